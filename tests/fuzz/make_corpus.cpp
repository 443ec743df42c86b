// Writes the seed corpus of the fuzz targets, built with the tests' builder:
// <folder>/readers holds device-log files, <folder>/profile profile sets,
// <folder>/fitpackage release descriptions of FIT packages, <folder>/galpackage
// GAL release descriptions with fonts after "|@@|".

#include "corvo_builder.h"

#include <cstdio>
#include <string>
#include <sys/stat.h>

using namespace corvotest;

namespace {

bool writeSeed(const std::string &path, const Bytes &bytes)
{
    FILE *file = std::fopen(path.c_str(), "wb");
    if (!file)
        return false;
    const bool written = bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && written;
}

Bytes toBytes(const std::string &text) { return Bytes(text.begin(), text.end()); }

Bytes activity()
{
    ActivityParts parts;
    parts.trackTime = kSampleTime;
    parts.sensorTime = kSampleTime + 1;
    parts.workoutLogTime = kSampleTime + 2;
    parts.summaryLap = pattern(24, 1);
    parts.userInfo = pattern(24, 2);
    parts.laps = {pattern(24, 3), pattern(24, 4)};
    return activityFile(parts);
}

Bytes sensorLog()
{
    SensorSegmentShape all;
    all.maskA = 0xFF;
    all.maskB = 0xC0;
    all.maskC = 0x0E;
    all.points = {{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}, {}};
    SensorSegmentShape some;
    some.maskA = 0x09;
    some.maskC = 0x04;
    some.points = {{}, {}, {}};
    return sensorLogFile({all, some}).bytes;
}

Bytes track()
{
    TrackSegmentShape first;
    first.coordinateA = 100;
    first.deltas = {{2, 15, 1, -1}, {1, -3, 4, 5}};
    TrackSegmentShape noFix;
    noFix.coordinateA = -1;
    noFix.coordinateB = -1;
    return trackFile({first, noFix}).bytes;
}

Bytes severalNames()
{
    ByteBuilder b;
    b.raw(fileHeader(21)).u32(0).u32(0).u32(52 + 2 * 15).u32(0x20).u32(0).u32(0).u32(kNone).u32(52).u32(kNone);
    b.u8(2).u8(0).u16(3).text(std::string("DEU\0\0\0\0\0", 8)).text("Abc");
    b.u8(1).u8(0).u16(3).text(std::string("ENG\0\0\0\0\0", 8)).text("Xyz");
    b.raw(pattern(24, 5)).raw(pattern(24, 6));
    return b.bytes();
}

std::string profileSet(const std::string &deviceProject, int deviceMajor, int newMajor, const std::string &ini)
{
    ProfileBuilder device(deviceProject, deviceMajor, 32);
    device.value("A", 1, 1, {5}).value("B", 2, 4, {1, 2}).value("C", 4, 7, {0, 0, 0xC0, 0x3F});
    device.value("D", 8, 8, pattern(8, 1)).value("E", 16, 13, {0xA5}, "1,3").value("F", 17, 14, pattern(6, 65), "6");
    device.value("MHR-BV", 24, 1, {180}).value("UP-maxHR", 25, 1, {180}).value("G", 26, 12, {1, 2}, "2");
    device.line("H,28,11");
    ProfileBuilder fresh("VU01", newMajor, 40);
    fresh.value("A", 30, 1, {0}).value("B", 2, 4, {0, 0}).value("F", 10, 14, pattern(6, 0), "6");
    fresh.value("C", 20, 5, {0, 0, 0, 0});
    const auto text = [](const Bytes &bytes) { return std::string(bytes.begin(), bytes.end()); };
    return device.map() + "|@@|" + text(device.image()) + "|@@|" + fresh.map() + "|@@|" + text(fresh.image()) + "|@@|"
           + ini;
}

// Release descriptions as packages carry them, and the shapes a package may take by mistake.
const char *const kReleaseInis[] = {
    "[MODEL]\nName=Pacer60F\n[OS]\nName=os.bin\nVersion=10\n[BootLoader]\nName=boot.bin\nVersion=B124\n"
    "[DeviceLang]\nName=lang.bin\nVersion=DL20230102\n[NotificationLang]\nName=nl.bin\nVersion=NL0043\n"
    "[TimeZone]\nName=tz.bin\nVersion=TZ2025\n[Bluetooth]\nName=bt.bin\nVersion=BT78\n",
    "\xEF\xBB\xBF[OS]\r\nName=\"os.bin\" ; comment\r\nVersion=9.10.0\r\n[GPS]\r\nName=gps.bin\r\nVersion=1\r\n",
    "[OS]\nName=a.bin\nVersion=1\n[OS]\nName=b.bin\nVersion=0002\n[BootLoader]\nName=\nVersion=B1\n",
    "[OS]\nName=../outside.bin\nVersion=10\n",
};

// A GAL release.ini, then fonts (a version word, the code at bytes 4-6).
const char *const kGalPackages[] = {
    "[IMG]\nName=Syc\nSize=16\nExt_FlashImageStartAddr=0x1000\nExt_FlashLangStartAddr=6000\nLangVersion=L1\n"
    "[OS]\nVersion=1.0\n[BootLoader]\nVersion=R002\n|@@|V001engABCDEFGH|@@|V001deuIJKLMNOP|@@|V1",
    "Name=Syc\r\n[IMG]\r\nSize=4194304\r\nExt_FlashImageStartAddr=FFFF000\r\nExt_FlashLangStartAddr=0x\r\n"
    "|@@|V002engQRSTUVWX",
};

// Pacer50 packages: the device's image name, then the files, versions and "a^b" texts.
const char *const kPacer50Packages[] = {
    "\nALDER.bin\nCKS.TXT\nres/strings.dat\n1.0.0.0\n1.0.0",
    "OAK\nOAK.bin\ncks.txt\nrelease.ini\nGH1.3.0.7\nGH1.3.0.8\n5.0.0.0^2024.1.0.0\n../x\n/abs",
};

// Pacer30 packages: model and version, then the files.
const char *const kPacer30Packages[] = {
    "Pulsar30 V008\nITemp.bin\nIAP.bin\nmaple.bin\nreadme.txt",
    "Pacer20 Vx7\nIT\nI\nITT.bin\na.bin\nb.BIN",
};

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <folder>\n", argv[0]);
        return 2;
    }
    const std::string root = argv[1];
    ::mkdir(root.c_str(), 0777);
    for (const char *target : {"readers", "profile", "fitpackage", "galpackage", "pacer50package", "pacer30package"})
        ::mkdir((root + '/' + target).c_str(), 0777);
    const std::string ini = "MHR-BV=170\nA=7\nC=2.50\nE=3\nF=text\nD=-1.25\n";
    bool ok =
        writeSeed(root + "/readers/activity", activity()) && writeSeed(root + "/readers/sensor", sensorLog())
        && writeSeed(root + "/readers/track", track())
        && writeSeed(root + "/readers/workoutlog", workoutLogFile(kSampleTime, {pattern(28, 1), pattern(28, 2)}))
        && writeSeed(root + "/readers/template", templateWithLogs({kSampleTime, kSampleTime + 2}))
        && writeSeed(root + "/readers/intervals", templateWithIntervals({kTemplateIntervalTable + 24, 5, kNone}, 24))
        && writeSeed(root + "/readers/names", severalNames())
        && writeSeed(root + "/profile/carry", toBytes(profileSet("VU01", 1, 2, ini)))
        && writeSeed(root + "/profile/same", toBytes(profileSet("VU01", 2, 2, ini)))
        && writeSeed(root + "/profile/other", toBytes(profileSet("VU02", 1, 2, "LTHR-BV=150\n")));
    int seed = 0;
    for (const char *text : kReleaseInis)
        ok = ok && writeSeed(root + "/fitpackage/release" + std::to_string(++seed), toBytes(text));
    for (const char *text : kGalPackages)
        ok = ok && writeSeed(root + "/galpackage/package" + std::to_string(++seed), toBytes(text));
    for (const char *text : kPacer50Packages)
        ok = ok && writeSeed(root + "/pacer50package/package" + std::to_string(++seed), toBytes(text));
    for (const char *text : kPacer30Packages)
        ok = ok && writeSeed(root + "/pacer30package/package" + std::to_string(++seed), toBytes(text));
    return ok ? 0 : 1;
}
