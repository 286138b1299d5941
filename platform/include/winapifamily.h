/* API partitions: every declaration of the host layer belongs to the desktop
 * partition, so every partition test succeeds. */
#ifndef COMHOST_WINAPIFAMILY_H
#define COMHOST_WINAPIFAMILY_H
#define WINAPI_PARTITION_DESKTOP 1
#define WINAPI_PARTITION_APP 1
#define WINAPI_PARTITION_SYSTEM 1
#define WINAPI_FAMILY_DESKTOP_APP 3
#define WINAPI_FAMILY WINAPI_FAMILY_DESKTOP_APP
#define WINAPI_FAMILY_PARTITION(p) (p)
#define WINAPI_FAMILY_ONE_PARTITION(f, p) ((f) == (p))
#endif
