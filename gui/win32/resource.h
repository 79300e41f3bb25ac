#pragma once
// Resource and control ids of TrimsenseGUI.exe, shared by the resource script
// and the dialog procedures. The ids are part of what support tools and
// automated checks rely on: keep them.

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif

#define IDD_PAGE_COM 101
#define IDD_TRIMSENSE_DIALOG 102
#define IDR_MAINFRAME 128
#define IDD_SELECT_PORT 129
#define IDD_PAGE_USB 130
#define IDD_PAGE_LPT 131
#define IDD_PAGE_ETHERNET 132

// Main dialog.
#define IDC_SELECT_PORT 1000
#define IDC_ADJUSTMENT 1001
#define IDC_PORT_TEXT 1016

// Select-port dialog: the radio buttons 1002 + page index.
#define IDC_RADIO_COM 1002
#define IDC_RADIO_LPT 1003
#define IDC_RADIO_USB 1004
#define IDC_RADIO_ETHERNET 1005
#define IDC_COMMUNICATION_TEST 1006
#define IDC_SEARCH 1017

// Pages.
#define IDC_COM_PORT 1007
#define IDC_COM_BAUDRATE 1008
#define IDC_COM_PARITY 1009
#define IDC_COM_DATABIT 1010
#define IDC_LPT_PORT 1011
#define IDC_USB_PORT 1010
#define IDC_IPADDRESS 1013
#define IDC_FOUND_LIST 1014
