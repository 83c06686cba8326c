// What the updater and the client know of each other: the client's window class, the message
// that tells it there is nothing to update, and how it is started again.
#pragma once

#include <windows.h>

const char kClientWindowClass[] = "Quillmarket";
const char kClientExeName[] = "Quillmarket.exe";
// Keeps a client started by the updater from starting the updater again.
const char kClientNoUpdateSwitch[] = "-noupdate";
// Sent to the client's window when there is nothing to update.
const UINT WM_UPDATE_NONE = WM_USER + 102;
