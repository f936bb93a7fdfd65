#pragma once
// Resource numbers of the program's module.
#define IDI_APP 101
#define IDB_CLOSE 102
#define IDB_CLOSE_PRESSED 103
#define IDB_MINIMIZE 104
#define IDB_MINIMIZE_PRESSED 105
