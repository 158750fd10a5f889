// The pure rules behind the page behaviours: sizes as text, the checks of the Next
// button, the folder browser's result, and the Ready page's summary.
#pragma once

#include <cstdint>
#include <string>

// "1.50 KB", "33.02 MB", "512 bytes", "0 byte": two decimals from 1024 bytes up, with
// the given decimal separator.
std::string FormatSize(int64_t bytes, char decimalSeparator);

// What the Destination page's Next does with the trimmed folder.
enum class DestinationCheck {
    TooShort,   // fewer than two characters: warn and stay
    DriveSpace, // "X:" with a letter: compare the drive's free space with FilesSize
    NotTested,  // anything else (a network path): go on
};
DestinationCheck ClassifyDestination(const std::string& trimmed);

// The folder whose free space the Destination page shows: the drive root of "X:..."
// folders, empty for anything else (shown as no space at all).
std::string SpaceDriveRoot(const std::string& folder);

// Fields of the User information page in the order they are checked.
struct InfoField {
    bool shown = false;
    bool required = false;
    std::string text;
};
// Index of the first shown, required field that holds only blanks; -1 when none.
int FirstMissingField(const InfoField (&fields)[3]);

// The folder browser. BrowseLastComponent: the product folder name kept under the
// chosen folder in mode 0. BrowseStart: the parent of the folder typed, or its parent
// when that does not exist.
std::string BrowseLastComponent(const std::string& edit1);
std::string BrowseStart(const std::string& edit1, bool (*folderExists)(const std::string&));
// The new destination for a chosen folder, or empty text when nothing changes (a path
// of fewer than two characters). mode 0 keeps last under the chosen folder, 2 takes the
// chosen folder's drive root, any other value the chosen folder itself.
std::string BrowseResult(const std::string& chosen, const std::string& last, int mode);

// The Ready page's summary, one item per line.
struct ReadyInput {
    std::string destinationLabel, groupLabel, tasksLabel; // language [Setup] 0..2
    std::string destination, group;
    bool noProgramGroup = false;
    bool desktop = false, quickLaunch = false, associate = false;
    std::string desktopCaption, quickLaunchCaption, associateCaption;
};
std::string ReadySummary(const ReadyInput& in);
