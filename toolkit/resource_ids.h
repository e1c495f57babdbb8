/* Resource identifiers of the toolkit's own resources (shared with resources/toolkit.rc, so
   plain preprocessor definitions only). */
#ifndef KELDRUN_TOOLKIT_RESOURCE_IDS_H_
#define KELDRUN_TOOLKIT_RESOURCE_IDS_H_

#define IDI_KELDRUN 128          /* the program icon */
#define IDB_CHECK_STATES 130     /* three check-box state images: unchecked, checked, partly */
#define IDB_IMAGE_STRIP 133      /* button and menu images, 16 x 16, magenta mask */
#define IDB_TREE_STRIP 134       /* tree images of the comparison screens */
#define IDB_LIST_STRIP 135       /* list images of the comparison screens */
#define IDD_MESSAGE_BOX 900      /* the program's message box */

#endif /* KELDRUN_TOOLKIT_RESOURCE_IDS_H_ */
