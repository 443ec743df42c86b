#include "VHRestorePasses.h"

#include "VHClient.h"

namespace VHRestorePasses {

namespace {
// The general failure code the families that format themselves use.
constexpr int kFailed = 4;
} // namespace

bool awaitsSecondPass(VHClient &client) { return client.state() == VHClient::STATE_MODEL; }

bool startSecondPass(VHClient &client, const QString &folder) { return client.restoreFactory(folder); }

VHResult secondPassOutcome(VHClient &client)
{
    if (awaitsSecondPass(client))
        return VHResult::failure(kFailed, QStringLiteral("the device came back without formatting itself; "
                                                         "restart it and run the restore again"));
    return VHResult::success();
}

} // namespace VHRestorePasses
