#pragma once

// The program's command ids: menu items, context-menu items, buttons and the commands the
// window posts to itself. Each id is defined here once; the window's command table, the run
// control and the posting code all name them from here. The numbers are part of the program's
// event identities (a posted command carries only its number), so they never change.

namespace tarnvelox::app::cmd {

// File menu.
inline constexpr int kOpen = 1414;
inline constexpr int kNew = 1415;
inline constexpr int kSave = 1419;
inline constexpr int kSaveAs = 1417;
inline constexpr int kDeleteProject = 1416;
inline constexpr int kExport = 159;
inline constexpr int kImport = 158;
inline constexpr int kVersionCheck = 154;
inline constexpr int kQuit = 1424;

// Edit menu.
inline constexpr int kCopy = 1402;
inline constexpr int kPaste = 1403;
inline constexpr int kDelete = 156;
inline constexpr int kSelectAll = 176;

// View, Options and Help menus.
inline constexpr int kStatus = 1404;
inline constexpr int kPreferences = 1401;
inline constexpr int kResetLinkStatus = 1440;
inline constexpr int kDeleteLinks = 1410;
inline constexpr int kClearProject = 149;
inline constexpr int kAbout = 1423;
inline constexpr int kFaq = 1412;
inline constexpr int kHomePage = 1413;

// The links view's context menu.
inline constexpr int kLinkOpen = 160;
inline constexpr int kLinkOpenSource = 178;
inline constexpr int kLinkCopy = 175;
inline constexpr int kLinkDelete = 174;
inline constexpr int kLinkSelectAll = 170;

// The addresses view's context menu.
inline constexpr int kAddressSend = 167;
inline constexpr int kAddressOpenSource = 179;
inline constexpr int kAddressCopy = 172;
inline constexpr int kAddressDelete = 173;
inline constexpr int kAddressSelectAll = 171;

// Buttons and window commands.
inline constexpr int kClose = 2;      // the window's close box and Escape
inline constexpr int kStart = 1255;   // the default button: Start, Status while running
inline constexpr int kCancel = 1262;  // Cancel, while a harvest runs
// Posted by the main window to itself once it is on screen (and after Open and New): loads the
// current project. The version-check window and the upgrade wizard receive the same number
// from the common stop, meaning "the transfer has ended".
inline constexpr int kLoadProject = 1101;
inline constexpr int kTransferEnded = kLoadProject;

}  // namespace tarnvelox::app::cmd
