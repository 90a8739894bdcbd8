#pragma once

// Ids of the windowed program's resources (dialog template, icon, items,
// commands) and of its string table.
namespace res {

constexpr unsigned long DIALOG_MAIN = 101;
constexpr unsigned long ICON_MAIN = 102;

constexpr unsigned long ID_CONFIGURATION = 1000;
constexpr unsigned long ID_START = 1001;
constexpr unsigned long ID_HOST = 1002;
constexpr unsigned long ID_PORT = 1003;
constexpr unsigned long ID_DOCPATH = 1004;
constexpr unsigned long ID_STATUS = 1007;
constexpr unsigned long ID_STOP = 1008;
constexpr unsigned long ID_AUTOSTART = 1009;
constexpr unsigned long ID_BROWSE = 1010;
constexpr unsigned long ID_EXIT = 1099;
constexpr unsigned long ID_WEBSITE = 1100;

// String table entries.
constexpr unsigned long IDS_TITLE = 1;

// Registers the dialog template and the string table (idempotent).
void registerResources();
// The text of a string-table entry ("" when absent).
const char* text(unsigned long id);

} // namespace res
