// Resource ids of the updater; shared by the resource script and the code.
#ifndef UPDATER_RESOURCE_H
#define UPDATER_RESOURCE_H

#define IDD_UPDATER 102

#define IDR_MAINFRAME 128
#define IDB_PROGRESS_FILL 129
#define IDB_PROGRESS_TRACK 130
#define IDB_BACKGROUND 131
#define IDB_CANCEL 132

#define IDC_PROGRESS_FILE 1000
#define IDC_STATIC_FILE 1001
#define IDC_PROGRESS_TOTAL 1003
#define IDC_STATIC_SIZE 1004

#endif // UPDATER_RESOURCE_H
