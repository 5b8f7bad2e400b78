// Release detection over temporary release files.
#include <gtest/gtest.h>

#include "framework/platform_detection.h"
#include "temp_dir.h"

namespace hbafw {
namespace {

TEST(PlatformDetection, ReleaseTable) {
    struct Row {
        const char* redhat;  // nullptr: no file
        const char* suse;
        std::wstring expected;
    };
    const Row rows[] = {
        {"Red Hat Enterprise Linux Server release 5.8 (Tikanga)\n", nullptr, L"rhel5"},
        {"Red Hat Enterprise Linux AS release 4 (Nahant Update 8)\n", nullptr, L"rhel4"},
        {"Red Hat Enterprise Linux Server release 6.4 (Santiago)\n", nullptr, L"rhel6"},
        {"Red Hat Enterprise Linux release 7.0\n", nullptr, L""},
        {"CentOS release 5.8 (Final)\n", "SUSE Linux Enterprise Server 11 (x86_64)\n", L""},
        {" Red Hat Enterprise Linux Server release 5.8\n", nullptr, L""},
        {"", nullptr, L""},
        {nullptr, "SUSE Linux Enterprise Server 11 (x86_64)\nVERSION = 11\nPATCHLEVEL = 2\n", L"sles11"},
        {nullptr, "SUSE Linux Enterprise Server 10 (x86_64)\n", L"sles10"},
        {nullptr, "openSUSE 11.4 (x86_64)\n", L""},
        {nullptr, "SUSE Linux Enterprise Desktop 11\n", L""},
        {nullptr, nullptr, L""},
    };
    for (const Row& row : rows) {
        testing::TempDir dir;
        SystemPaths paths;
        paths.componentLog = dir.file("Component.log");
        paths.redhatRelease = dir.file("redhat release");  // a space must not split the command
        paths.suseRelease = dir.file("SuSE-release");
        if (row.redhat) testing::WriteFile(paths.redhatRelease, row.redhat);
        if (row.suse) testing::WriteFile(paths.suseRelease, row.suse);
        CBaseCmp component(paths);
        EXPECT_EQ(DetectOperatingSystem(component), 0);
        EXPECT_EQ(component.result.osId, row.expected) << (row.redhat ? row.redhat : "-") << (row.suse ? row.suse : "-");
    }
}

TEST(PlatformDetection, ReleaseTextAgainstEachTable) {
    struct Row {
        ReleaseFamily family;
        std::string text;
        std::wstring expected;
    };
    const Row rows[] = {
        {ReleaseFamily::Suse, "Red Hat Enterprise Linux Server release 5.8 (Tikanga)\n", L""},
        {ReleaseFamily::RedHat, "SUSE Linux Enterprise Server 11 (x86_64)\n", L""},
        {ReleaseFamily::RedHat, "Red Hat Enterprise Linux Server release 6.4 (Santiago)\r\n", L"rhel6"},
        {ReleaseFamily::RedHat, "Red Hat Enterprise Linux release 5 ... release 4", L"rhel4"},  // table order
        {ReleaseFamily::RedHat, "Red Hat Enterprise Linux\nrelease 5", L"rhel5"},
        {ReleaseFamily::RedHat, std::string("Red Hat Enterprise Linux release 6\0tail", 39), L"rhel6"},
        {ReleaseFamily::Suse, "SUSE Linux Enterprise Server 10", L"sles10"},
        {ReleaseFamily::Suse, "", L""},
    };
    for (const Row& row : rows)
        EXPECT_EQ(MatchReleaseText(row.family, row.text), row.expected) << row.text;
}

TEST(PlatformDetection, HugeReleaseFileIsHandled) {
    testing::TempDir dir;
    SystemPaths paths;
    paths.componentLog = dir.file("Component.log");
    paths.redhatRelease = dir.file("redhat-release");
    testing::WriteFile(paths.redhatRelease,
                       "Red Hat Enterprise Linux Server release 6." + std::string(1 << 20, '9') + "\n");
    CBaseCmp component(paths);
    DetectOperatingSystem(component);
    EXPECT_EQ(component.result.osId, L"rhel6");
}

}  // namespace
}  // namespace hbafw
