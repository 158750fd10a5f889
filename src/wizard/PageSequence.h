// The order of the wizard's pages, which of them are skipped, and the state of the
// three buttons on each: pure rules over the page table, with no window involved.
#pragma once

// Pages in the order they are always visited.
enum WizardPage : int {
    kPageNone = 0, // before the first display, or backward skipping ran below page 1
    kPageLanguage = 1,
    kPageWelcome = 2,
    kPageLicense = 3,
    kPageReadme = 4,
    kPageUserInfo = 5,
    kPageDestination = 6,
    kPageProgramGroup = 7,
    kPageReady = 8,
    kPageInstall = 9,
    kPageFinish = 10,
};

enum class Direction { Forward, Backward };

// One switch per page 1..8 (index page - 1); index 8 holds DialogFinish, which only
// decides whether the Finish page waits for the user.
using PageTable = bool[9];

// The page that showing page in direction ends on: switched-off pages below the
// Install page are skipped in the direction of travel. The Install and Finish pages
// are never skipped. Backward skipping past page 1 gives kPageNone: no page is shown,
// and the next forward step starts again at page 1.
int NextPage(int page, const PageTable& table, Direction direction);

// Whether the page waits for the user's Finish click (DialogFinish).
bool FinishPageWaits(const PageTable& table);

// Button captions are [Buttons] indexes of the language file.
enum ButtonCaption : int {
    kCaptionBack = 0,
    kCaptionNext = 1,
    kCaptionCancel = 2,
    kCaptionInstall = 3,
    kCaptionBrowse = 7,
    kCaptionFinish = 8,
    kCaptionAgree = 11,
};

struct ButtonStates {
    bool backVisible = true;
    bool nextVisible = true;
    bool nextEnabled = true;
    int nextCaption = kCaptionNext;
    bool cancelVisible = true;
};

// The buttons of a page that is displayed (not skipped). acceptRequired: the
// configuration's AcceptAgreement, which matters on the Licence page only; there the
// Next button stays inactive until the box is ticked.
ButtonStates PageButtons(int page, const PageTable& table, bool acceptRequired);

// Pages drawn on the full-size panel (big picture) rather than under the header strip.
bool UsesFullPanel(int page);
