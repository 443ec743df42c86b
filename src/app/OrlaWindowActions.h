#pragma once

#include <QString>

// What the windows ask of the controller: their buttons' work and the
// release note. A window holds one of these, not the controller itself.
class OrlaWindowActions
{
public:
    virtual ~OrlaWindowActions() = default;

    // Each button of the main window asks this first and does nothing more
    // when it is true (the user has been told).
    virtual bool refuseIfBusy() = 0;
    virtual void offerSoftwareUpdate() = 0;
    virtual void updateAlp(bool interactive) = 0;
    virtual void installWorkouts() = 0;
    virtual void startSoftwareUpdate() = 0;
    virtual void refreshMainWindow(bool disconnected) = 0;
    virtual QString note() = 0;
    // The jobs beyond the first three, offered by the families that have them.
    virtual void offerFactoryRestore() = 0;
    virtual void chooseLanguages() = 0;
    virtual void manageBackups() = 0;
    virtual void recoverDevice() = 0;
};
