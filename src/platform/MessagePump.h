// Lets the window repaint and buttons work during long operations on the one
// user-interface thread.
#pragma once

// Dispatches every pending message of this thread's queue, then returns.
void ProcessMessages();
