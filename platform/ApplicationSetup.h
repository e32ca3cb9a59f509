// What the desktop program sets once its QApplication exists. The widget
// tests' main calls it too, so the tests see the program's behaviour.
#pragma once

namespace kelvorin {

// Names the application and gives it its version, and puts the C library's
// number format back to "C": QApplication takes the whole C locale from the
// environment, and under a locale with a decimal comma the reports would be
// written with commas and a typed weight "0.25" refused. With "C" the
// reports are the same to the character on every machine. The rest of the
// locale (the character set of file names, for one) stays the user's.
//
// It also lets a disabled menu item be highlighted, as the program's menus
// expect: the item's hint (Read > "from same file" before any file was read
// says so) and its help are reached through the highlight.
//
// No display name is set: the platform would append it to the caption of
// every other window ("Options — ..."), whose captions are the program's own
// fixed texts. The main window's title is the program's name already.
void SetUpApplication();

}  // namespace kelvorin
