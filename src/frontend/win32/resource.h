// Resource ids of the update tool's window. Shared by the resource script and the
// window code, so it holds nothing but #defines.
#pragma once

#define IDD_ABOUTBOX 100
#define IDS_ABOUTBOX 101
#define IDD_OSTSERVERUPDATE_DIALOG 102
#define IDR_MAINFRAME 128

#define IDC_START_BUTTON 1001
#define IDC_PROGRESS_LIST 1002
#define IDC_PROGRESS_BAR 1003
#define IDC_STATUS_TEXT 1004
#define IDC_ROUTE_TELECOM 1005
#define IDC_ROUTE_NETCOM 1006

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif
