// The tray program's resources: its icon and the Settings dialog.
#pragma once

#define IDI_TRAY 1
#define IDD_SETTINGS 100
#define IDC_SCALE 101
#define IDC_DECIMALS 102
#define IDC_SEPARATOR 103
#define IDC_THEN 104
#define IDC_KEY 105
#define IDC_SOUND 106
#define IDC_LOG 107
