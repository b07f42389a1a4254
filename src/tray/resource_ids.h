// Resource ids of the tray's dialogs, shared by the program's resource script and the tray code.
#pragma once

// The program's icon: the lowest id, so that Explorer shows it for the exe.
#define IDI_CONNECTOR 1

// Dialog templates (the tray program's connection and status dialogs).
#define IDD_CONNECTION 101
#define IDD_STATUS 102

// Connection dialog controls.
#define IDC_SERVER_ADDRESS 1001
#define IDC_PAIRING_CODE 1002
#define IDC_PAIR 1003
#define IDC_UNPAIR 1004
#define IDC_PAIRING_STATUS 1005
#define IDC_TALLY_HOST 1006
#define IDC_TALLY_PORT 1007
#define IDC_TEST_TALLY 1008
#define IDC_TALLY_RESULT 1009

// Status dialog controls.
#define IDC_STATUS_TEXT 1101
#define IDC_SYNC_NOW 1102
#define IDC_OPEN_LOG_FOLDER 1103
