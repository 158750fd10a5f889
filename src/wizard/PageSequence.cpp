#include "wizard/PageSequence.h"

namespace {

bool Switch(const PageTable& table, int page) {
    return page >= kPageLanguage && page <= kPageReady && table[page - 1];
}

bool AnyShownBetween(const PageTable& table, int from, int to) {
    for (int p = from; p <= to; ++p)
        if (Switch(table, p)) return true;
    return false;
}

} // namespace

int NextPage(int page, const PageTable& table, Direction direction) {
    if (page > kPageFinish) page = kPageFinish;
    if (direction == Direction::Forward && page < kPageLanguage) page = kPageLanguage;
    while (page >= kPageLanguage && page < kPageInstall && !Switch(table, page))
        page += direction == Direction::Forward ? 1 : -1;
    return page < kPageLanguage ? kPageNone : page;
}

bool FinishPageWaits(const PageTable& table) {
    return table[8];
}

ButtonStates PageButtons(int page, const PageTable& table, bool acceptRequired) {
    ButtonStates s;
    if (page == kPageInstall) {
        s.backVisible = s.nextVisible = false;
        return s;
    }
    if (page == kPageFinish) {
        s.backVisible = s.cancelVisible = false;
        s.nextCaption = kCaptionFinish;
        return s;
    }
    // The last page shown before the installation offers to install.
    if (!AnyShownBetween(table, page + 1, kPageReady)) s.nextCaption = kCaptionInstall;
    s.backVisible = AnyShownBetween(table, kPageLanguage, page - 1);
    if (page == kPageLicense) {
        if (acceptRequired)
            s.nextEnabled = false;
        else
            s.nextCaption = kCaptionAgree;
    }
    return s;
}

bool UsesFullPanel(int page) {
    return page == kPageLanguage || page == kPageWelcome || page == kPageFinish;
}
