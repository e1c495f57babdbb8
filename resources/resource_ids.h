/* Resource identifiers of the program's windows (shared with the .rc files, so plain
   preprocessor definitions only). Dialogs carry the numbers the program has always used;
   controls are named by role. The toolkit's own resources are in toolkit/resource_ids.h. */
#ifndef KELDRUN_RESOURCES_RESOURCE_IDS_H_
#define KELDRUN_RESOURCES_RESOURCE_IDS_H_

/* Dialogs */
#define IDD_MAIN_WINDOW 102
#define IDD_REGISTRY_PAGE 129
#define IDD_FILES_PAGE 130
#define IDD_SNAPSHOTS_PAGE 131
#define IDD_TAKE_SNAPSHOT 132
#define IDD_TRANSFER_PROGRESS 147
#define IDD_SELECTION_PAGE 153
#define IDD_HELP_PAGE 901
#define IDD_APPLICATIONS_PAGE 904
#define IDD_FILES_SEARCH 905
#define IDD_REGISTRY_SEARCH 906
#define IDD_PROPERTIES 908
#define IDD_SETUP 902
#define IDD_SETUP_INSTALL_PAGE 146
#define IDD_SETUP_AGREEMENT_PAGE 907
#define IDD_DIFFERENCES_OPTIONS 909
#define IDD_REPORT_VIEWER 910
#define IDD_SNAPSHOT_EXPORT 911
#define IDD_LEARN_NOISE 912
#define IDD_UNINSTALL 903

/* Main window: the tab row, and the system menu's "About..." command. Each page is a child
   window whose id is its dialog number, so that it can be found from outside. */
#define IDC_MAIN_TABS 1005
#define IDM_ABOUT 16

/* Snapshots page */
#define IDC_SNAPSHOT_LIST 1001
#define IDC_TAKE_SNAPSHOT 1002
#define IDC_DELETE_SNAPSHOTS 1003
#define IDC_FIRST_SNAPSHOT 1004
#define IDC_SECOND_SNAPSHOT 1005
#define IDC_COMPARE 1006
#define IDC_VIEW_SNAPSHOT 1007
#define IDC_IMPORT_SNAPSHOTS 1008
#define IDC_PROPERTIES 1009
#define IDC_DIFFERENCES_LIST 1010
#define IDC_FIRST_SNAPSHOT_LABEL 1012
#define IDC_SECOND_SNAPSHOT_LABEL 1013
#define IDC_EXPORT_SNAPSHOTS 1014
#define IDC_EXPORT_HTML 1015
#define IDC_LEARN_NOISE 1016

/* Registry, Files and Applications screens */
#define IDC_SCREEN_TREE 1000
#define IDC_SCREEN_LIST 1001
#define IDC_VIEW_FULL 1009
#define IDC_VIEW_DIFFERENCES 1010
#define IDC_SCREEN_DIFFERENCES 1014
#define IDC_PATH_BOX 1016
#define IDC_JUMP_TO 1017
#define IDC_SCREEN_SPLITTER 1030
#define IDC_SEARCH_SPLITTER 1031
#define IDC_SEARCH_PANE 1032
#define IDC_SHOW_NOISE 1033
#define IDC_NOISE_LINE 1034
#define IDC_NORMALISE 1035

/* Learn noise: the proposals' check boxes and the line of what was skipped (OK 1, Cancel 2) */
#define IDC_NOISE_PROPOSALS 1001
#define IDC_NOISE_SKIPPED 1002

/* Search panes of the Files and Registry screens (a hidden default button 1 takes Enter) */
#define IDC_SEARCH_RESULTS 1001
#define IDC_SEARCH_STATUS 1008
#define IDC_SEARCH_RUN 1015
#define IDC_SEARCH_TEXT 1018
#define IDC_SEARCH_MATCH_CASE 1021
#define IDC_SEARCH_PATHS 1022
#define IDC_SEARCH_NAMES 1023
#define IDC_SEARCH_DATA 1024

/* Properties dialog (OK is 1, Cancel is 2) */
#define IDC_PROPERTIES_BROWSER 1001
#define IDC_PROPERTIES_NAME 1005
#define IDC_PROPERTIES_COMPUTER 1006
#define IDC_PROPERTIES_DATE 1007
#define IDC_PROPERTIES_SUMMARY 1030

/* Take-snapshot dialog (Start is 1, Cancel is 2), its selection tree page, and the progress
   dialog of import and export (Cancel is 2) */
#define IDC_SELECTION_TREE 1000
#define IDC_SNAPSHOT_NAME 1005
#define IDC_PROGRESS_TEXT 1008
#define IDC_PROGRESS_BAR 1024
#define IDC_FULL_SCAN 1026
#define IDC_SELECTED_ITEMS 1027
#define IDC_RECORD_DIGESTS 1028

/* Setup window (button 1 agrees, then installs; Cancel is 2): the agreement page's browser, and
   the install page's desktop-icon box, change-folder button and folder text */
#define IDC_SETUP_AGREEMENT 1005
#define IDC_SETUP_DESKTOP_ICON 1005
#define IDC_SETUP_CHANGE_FOLDER 1006
#define IDC_SETUP_FOLDER_TEXT 1007
#define IDC_UNINSTALL_QUESTION 1008

/* Differences report options (Cancel is 2). The group frames and the texts beside the number
   fields carry ids so that the dialog can hide and move them with their groups. */
#define IDC_REPORT_BINARY_LIMIT 1007
#define IDC_REPORT_STRING_LIMIT 1008
#define IDC_REPORT_PATH 1009
#define IDC_REPORT_EXPORT 1014
#define IDC_REPORT_VIEW 1015
#define IDC_REPORT_ADDED 1028
#define IDC_REPORT_MODIFIED 1029
#define IDC_REPORT_DELETED 1030
#define IDC_REPORT_LIMIT_BINARY 1031
#define IDC_REPORT_LIMIT_STRING 1032
#define IDC_REPORT_REGISTRY 1033
#define IDC_REPORT_FILES 1034
#define IDC_REPORT_APPLICATIONS 1035
#define IDC_REPORT_RANGE_ALL 1036
#define IDC_REPORT_RANGE_PATH 1037
#define IDC_REPORT_PATH_CAPTION 1038
#define IDC_REPORT_SPLIT 1043
#define IDC_REPORT_LINES 1045
#define IDC_REPORT_STATUS 1050
#define IDC_REPORT_ITEMS_GROUP 1060
#define IDC_REPORT_SECTIONS_GROUP 1061
#define IDC_REPORT_DATA_GROUP 1062
#define IDC_REPORT_RANGE_GROUP 1063
#define IDC_REPORT_SPLIT_GROUP 1064
#define IDC_REPORT_BINARY_UNIT 1065
#define IDC_REPORT_STRING_UNIT 1066
#define IDC_REPORT_LINES_UNIT 1067

/* Report viewer (Close is 2) */
#define IDC_VIEWER_BROWSER 1001
#define IDC_VIEWER_SAVE_AS 3
#define IDC_VIEWER_PRINT 4

/* Snapshot export (Export is 1, Cancel is 2) */
#define IDC_EXPORT_NAME 1010
#define IDC_EXPORT_BROWSE 1016
#define IDC_EXPORT_FOLDER 1042
#define IDC_EXPORT_SPLIT 1043
#define IDC_EXPORT_OPEN 1044
#define IDC_EXPORT_LINES 1045
#define IDC_EXPORT_STATUS 1008

/* Help page: the tab row and the two browsers; the pictures of its pages (type IMG) */
#define IDC_HELP_TABS 1002
#define IDC_HELP_ABOUT 1003
#define IDC_HELP_HOW_TO 1004
#define IDR_ICON_IMAGE 138
#define IDR_LOGO_IMAGE 139

#endif /* KELDRUN_RESOURCES_RESOURCE_IDS_H_ */
