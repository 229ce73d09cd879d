/*
 * The identity of the virtual HID device and the ids of its reports, shared by the driver and
 * the program that writes to it. Plain C macros: the driver includes this next to the kernel
 * headers, the program from C++.
 */
#ifndef PELTA_PELTAIDS_H
#define PELTA_PELTAIDS_H

#define PELTA_VENDOR_ID 0x001F
#define PELTA_PRODUCT_ID 0xBA1C
#define PELTA_VERSION 0x0001

/* Input reports of the collections the control report can wrap. */
#define PELTA_ABSOLUTE_MOUSE_REPORT_ID 0x03
#define PELTA_RELATIVE_MOUSE_REPORT_ID 0x04
#define PELTA_KEYBOARD_REPORT_ID 0x07

/* The vendor collections (usage page 0xFF00): control (usage 1) and message (usage 2). */
#define PELTA_VENDOR_USAGE_PAGE 0xFF00
#define PELTA_CONTROL_USAGE 0x01
#define PELTA_MESSAGE_USAGE 0x02
#define PELTA_CONTROL_REPORT_ID 0x40
#define PELTA_MESSAGE_REPORT_ID 0x10

/* Feature reports. */
#define PELTA_FEATURE_MAX_COUNT_ID 1
#define PELTA_FEATURE_MODE_ID 2

#endif
