// The wizard's page order, skip rules and button states, and the pure rules of the
// page behaviours (sizes, Next checks, folder browser results, Ready summary).
#include "platform/FileUtil.h"
#include "wizard/PageRules.h"
#include "wizard/PageSequence.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>

namespace {

// A page table from the numbers of the pages switched on (1..8; 9 = DialogFinish).
struct Table {
    PageTable t = {};
    Table(std::initializer_list<int> on) {
        for (int p : on)
            t[p - 1] = true;
    }
};

constexpr Direction F = Direction::Forward;
constexpr Direction B = Direction::Backward;

TEST(NextPage, SkipsSwitchedOffPagesInTheDirectionOfTravel) {
    struct Case {
        std::initializer_list<int> on;
        int page;
        Direction dir;
        int shown;
    };
    const Case cases[] = {
        {{}, 1, F, kPageInstall},         // everything off: straight to install
        {{kPageReady}, 1, F, kPageReady}, // the first page switched on
        {{kPageWelcome, kPageDestination}, 3, F, kPageDestination},
        {{kPageWelcome, kPageDestination}, 5, B, kPageWelcome}, // Back from Destination
        {{kPageWelcome}, 3, F, kPageInstall},                   // forward skipping ends at Install
        {{kPageWelcome}, 9, B, kPageInstall},                   // Install is never skipped
        {{}, 10, F, kPageFinish},                               // nor the Finish page
        {{kPageReady}, 7, B, kPageNone},  // backward below page 1: nothing shown
        {{kPageReady}, 0, F, kPageReady}, // the next advance starts again
        {{kPageLanguage}, 1, F, kPageLanguage},
    };
    for (const Case& c : cases) {
        Table t(c.on);
        EXPECT_EQ(NextPage(c.page, t.t, c.dir), c.shown) << "from page " << c.page;
    }
}

TEST(PageButtons, BackNextAndCancelByPage) {
    struct Case {
        std::initializer_list<int> on;
        int page;
        bool accept;
        bool back, nextVisible, nextEnabled;
        int caption;
        bool cancel;
    };
    const Case cases[] = {
        // Only the Ready page: no Back, and it installs.
        {{kPageReady}, kPageReady, false, false, true, true, kCaptionInstall, true},
        // Welcome and Destination: Destination is the last page before installing.
        {{kPageWelcome, kPageDestination},
         kPageWelcome,
         false,
         false,
         true,
         true,
         kCaptionNext,
         true},
        {{kPageWelcome, kPageDestination},
         kPageDestination,
         false,
         true,
         true,
         true,
         kCaptionInstall,
         true},
        // Licence: with acceptance required Next waits for the tick; without, it agrees
        // (even when it is the last page).
        {{kPageLicense, kPageReady}, kPageLicense, true, false, true, false, kCaptionNext, true},
        {{kPageLicense}, kPageLicense, false, false, true, true, kCaptionAgree, true},
        {{kPageWelcome, kPageLicense},
         kPageLicense,
         true,
         true,
         true,
         false,
         kCaptionInstall,
         true},
        // Install: only Cancel. Finish: only Finish.
        {{kPageWelcome}, kPageInstall, false, false, false, true, kCaptionNext, true},
        {{kPageWelcome}, kPageFinish, false, false, true, true, kCaptionFinish, false},
    };
    for (const Case& c : cases) {
        Table t(c.on);
        const ButtonStates b = PageButtons(c.page, t.t, c.accept);
        SCOPED_TRACE(c.page);
        EXPECT_EQ(b.backVisible, c.back);
        EXPECT_EQ(b.nextVisible, c.nextVisible);
        EXPECT_EQ(b.nextEnabled, c.nextEnabled);
        if (c.nextVisible) {
            EXPECT_EQ(b.nextCaption, c.caption);
        }
        EXPECT_EQ(b.cancelVisible, c.cancel);
    }
}

TEST(PageRules, FormatSize) {
    const struct {
        int64_t bytes;
        const char* text;
    } cases[] = {
        {0, "0 byte"},
        {1, "1 bytes"},
        {512, "512 bytes"},
        {1023, "1023 bytes"},
        {1024, "1,00 KB"},
        {1536, "1,50 KB"},
        {34627640, "33,02 MB"},
        {1073741824, "1,00 GB"},
        {5368709120LL, "5,00 GB"},
        // an exact half rounds up; a value just below the next unit rounds to 1024,00
        {3200, "3,13 KB"},
        {1048575, "1024,00 KB"},
        {1099511627776LL, "1024,00 GB"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FormatSize(c.bytes, ','), c.text) << c.bytes;
    EXPECT_EQ(FormatSize(34627640, '.'), "33.02 MB");
}

TEST(PageRules, DestinationAndRequiredFieldChecks) {
    EXPECT_EQ(ClassifyDestination(""), DestinationCheck::TooShort);
    EXPECT_EQ(ClassifyDestination("C"), DestinationCheck::TooShort);
    EXPECT_EQ(ClassifyDestination("c:\\App"), DestinationCheck::DriveSpace);
    EXPECT_EQ(ClassifyDestination("1:\\App"), DestinationCheck::NotTested);
    EXPECT_EQ(ClassifyDestination("\\\\server\\share"), DestinationCheck::NotTested);
    EXPECT_EQ(SpaceDriveRoot("D:\\Tools"), "D:\\");
    EXPECT_EQ(SpaceDriveRoot("\\\\server\\share"), ""); // shown as no space
    EXPECT_EQ(Trim(" \t C:\\App \r\n"), "C:\\App");

    InfoField fields[3] = {{true, true, "Ann"}, {true, false, ""}, {false, true, ""}};
    EXPECT_EQ(FirstMissingField(fields), -1); // optional and hidden fields may be empty
    fields[0].text = "   ";
    EXPECT_EQ(FirstMissingField(fields), 0); // blanks only count as empty
    fields[0].text = "Ann";
    fields[2].shown = true;
    EXPECT_EQ(FirstMissingField(fields), 2);
}

TEST(PageRules, BrowseResultByMode) {
    const std::string last = BrowseLastComponent(" C:\\Program Files\\App\\ ");
    EXPECT_EQ(last, "App");
    const struct {
        const char* chosen;
        int mode;
        const char* result;
    } cases[] = {
        {"D:\\Tools", 0, "D:\\Tools\\App"}, // the product folder stays under the choice
        {"D:\\", 0, "D:\\App"},
        {"D:\\Tools\\Sub", 2, "D:\\"}, // the chosen folder's drive root
        {"D:\\", 2, "D:\\"},
        {"D:\\", 1, "D:\\"}, // the folder itself
        {"D:\\Tools\\", 1, "D:\\Tools"},
        {"D", 0, ""}, // too short: nothing changes
    };
    for (const auto& c : cases)
        EXPECT_EQ(BrowseResult(c.chosen, last, c.mode), c.result) << c.chosen << " " << c.mode;

    auto exists = [](const std::string& f) { return f == "C:\\Program Files"; };
    EXPECT_EQ(BrowseStart("C:\\Program Files\\App", exists), "C:\\Program Files");
    EXPECT_EQ(BrowseStart("C:\\Program Files\\New\\App", exists), "C:\\Program Files");
}

TEST(PageRules, ReadySummary) {
    ReadyInput in;
    in.destinationLabel = "Destination directory:";
    in.groupLabel = "Start Menu folder:";
    in.tasksLabel = "Additional tasks:";
    in.destination = "C:\\App";
    in.group = "App";
    in.desktopCaption = "Desktop";
    in.quickLaunchCaption = "Quick";
    in.associateCaption = "Assoc .txt";
    EXPECT_EQ(ReadySummary(in),
              "Destination directory:\r\n\tC:\\App\r\n\r\nStart Menu folder:\r\n\tApp\r\n");
    in.noProgramGroup = true;
    in.desktop = in.associate = true;
    EXPECT_EQ(ReadySummary(in), "Destination directory:\r\n\tC:\\App\r\n\r\n\r\n"
                                "Additional tasks:\r\n\tDesktop\r\n\tAssoc .txt\r\n");
}

} // namespace
