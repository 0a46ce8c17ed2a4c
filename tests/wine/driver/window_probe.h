#pragma once

#include <windows.h>

#include <chrono>
#include <functional>
#include <string>

namespace qor::driver {

// Reading another program's windows the way an accessibility tool would:
// only by window messages and the window manager's own calls, so the
// program under test runs exactly as a user's copy does.

// Every message to the other program goes with a deadline, so a hung
// window makes the driver fail instead of hanging with it.
LRESULT ask(HWND window, UINT message, WPARAM wParam = 0, LPARAM lParam = 0);

std::wstring textOf(HWND window);
std::wstring itemText(HWND dialog, int id);
std::wstring className(HWND window);
bool itemEnabled(HWND dialog, int id);
bool itemVisible(HWND dialog, int id);
int windowHeight(HWND window);
// The height of one line of the text `control` shows: its own font's, or
// the system font's when it was given none.
int lineHeight(HWND control);

// The visible top-level dialog (class #32770) owned by `owner` for which
// `accept` holds, or null.
HWND ownedDialog(HWND owner, const std::function<bool(HWND)>& accept);

// Waits until `window` and its children have painted everything they had to
// paint, and their thread has gone back to its message loop, where wine
// hands the picture to the X server. A screenshot taken after that shows
// the window, not a black rectangle.
bool waitPainted(HWND window, std::chrono::milliseconds timeout);

// Polls `condition` every few tens of milliseconds until it holds or
// `timeout` has passed. The program under test tells us nothing, so its
// windows are watched; the deadline is generous for a busy machine.
bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout);

// UTF-8 for the transcript, with line breaks and backslashes escaped so each
// text stays on one line.
std::string transcriptText(const std::wstring& text);

}  // namespace qor::driver
