// Resource ids of the executable, shared by the resource script and the code.
#pragma once

// Dialog templates (the tray program's connection and status dialogs).
#define IDD_CONNECTION 101
#define IDD_STATUS 102
