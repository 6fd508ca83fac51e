// Public interface of a camera driver library: the operations by ordinal.
//
// A library given with --driver exports one C function,
//     extern "C" void *arvex_driver_operation(unsigned ordinal);
// that returns the function for an ordinal below (cast to the matching type),
// or null when it does not provide it. Every operation returns a 32-bit
// status, 0 meaning success. Records are plain byte areas whose layouts are
// documented in docs/driver.md; integers in them are little-endian.
#ifndef ARVEX_DEVICE_ARVEXDRIVER_H
#define ARVEX_DEVICE_ARVEXDRIVER_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef void *ArvexHandle;

/* Sizes of the records exchanged with a driver. */
enum {
    ARVEX_DEVICE_INFO_SIZE = 356,
    ARVEX_CAMERA_SETTINGS_SIZE = 1024,
    ARVEX_IMAGE_DESCRIPTOR_SIZE = 40,
    ARVEX_W2D_REQUEST_SIZE = 780,
    ARVEX_PIV_CONFIG_SIZE = 36,
    ARVEX_STREAMING_GEOMETRY_SIZE = 64,
    ARVEX_TEXT_PARAMETER_SIZE = 160
};

/* Library-wide options of setDriverOption (ordinal 36). */
enum {
    ARVEX_OPTION_RAW_FOLDER = 6,     /* value: const char * (Latin-1, NUL-terminated) */
    ARVEX_OPTION_VOLUMES = 7,        /* value: const char * "L=DIR\n" lines; recording volumes */
    ARVEX_OPTION_MEMORY_MB = 10,     /* value: memory to allocate at the next open, MB */
    ARVEX_OPTION_SIM_CAMERAS = 100,  /* simulator: number of cameras, 0..4 */
    ARVEX_OPTION_SIM_FRAME_US = 101  /* simulator: frame interval in us (0: no waits) */
};

/* Enumeration flags of enumerateDevices (ordinal 4). */
enum {
    ARVEX_ENUM_CAMERAS = 0x100,
    ARVEX_ENUM_RAW_FILES = 0x10000
};

typedef void (*ArvexGrabFinishedCallback)(void *context);
typedef void (*ArvexCalibrationCallback)(void *context, uint32_t done, uint32_t total);
typedef void (*ArvexW2dProgressCallback)(void *context, uint32_t p, uint32_t q, uint32_t r,
                                         uint32_t s);

typedef uint32_t (*ArvexInitializeDriver)(void *reserved);                       /*  2 */
typedef uint32_t (*ArvexShutdownDriver)(void);                                   /*  3 */
typedef uint32_t (*ArvexEnumerateDevices)(uint8_t *infos, uint32_t *count,
                                          uint32_t flags);                       /*  4 */
typedef uint32_t (*ArvexOpenDevice)(uint32_t deviceId, ArvexHandle *handle);     /*  5 */
typedef uint32_t (*ArvexCloseDevice)(ArvexHandle handle);                        /*  6 */
/* Numeric parameters: out1, out2 point to uint32_t. Text parameters (35, 1013,
 * 1016): out1 points to ARVEX_TEXT_PARAMETER_SIZE bytes, out2 is null. */
typedef uint32_t (*ArvexGetParameter)(ArvexHandle handle, uint32_t id, void *out1,
                                      void *out2);                               /*  7 */
typedef uint32_t (*ArvexSettingsOperation)(ArvexHandle handle,
                                           uint8_t *settings);    /* 8, 9, 10, 12, 34, 35 */
typedef uint32_t (*ArvexQuerySetting)(ArvexHandle handle, uint8_t *settings, uint32_t first,
                                      uint32_t second, uint32_t *out);           /* 13 */
typedef uint32_t (*ArvexGetSetting)(ArvexHandle handle, uint8_t *settings, uint32_t id,
                                    uint32_t *out);                              /* 14 */
typedef uint32_t (*ArvexSetSetting)(ArvexHandle handle, uint8_t *settings, uint32_t id,
                                    uint32_t value);                             /* 15 */
typedef uint32_t (*ArvexCaptureLiveImage)(ArvexHandle handle, uint8_t *descriptor,
                                          uint32_t timeoutMs);                   /* 16 */
typedef uint32_t (*ArvexStartMemoryGrab)(ArvexHandle handle, uint32_t zero1, uint32_t zero2,
                                         uint32_t a, uint32_t b,
                                         ArvexGrabFinishedCallback callback, uint32_t three,
                                         void *context);                         /* 19 */
typedef uint32_t (*ArvexStopMemoryGrab)(ArvexHandle handle, uint32_t *frames);   /* 20 */
/* The buffer holds at least the image size of the current format. */
typedef uint32_t (*ArvexReadImageByIndex)(ArvexHandle handle, uint32_t zero1, uint32_t zero2,
                                          uint32_t index, uint8_t *buffer);      /* 21 */
typedef uint32_t (*ArvexGetTriggerIndex)(ArvexHandle handle, uint32_t *p, uint32_t *q,
                                         uint32_t *r, uint32_t *s);              /* 22 */
typedef uint32_t (*ArvexCalibrateDevice)(ArvexHandle handle, uint32_t argument,
                                         ArvexCalibrationCallback callback,
                                         void *context);                         /* 24 */
typedef uint32_t (*ArvexHandleOperation)(ArvexHandle handle);          /* 25, 27, 47 */
typedef uint32_t (*ArvexReadMemoryImage)(ArvexHandle handle, uint8_t *descriptor,
                                         uint32_t *index);                       /* 29 */
typedef uint32_t (*ArvexHandleValueOperation)(ArvexHandle handle,
                                              uint32_t value);           /* 30, 71 */
typedef uint32_t (*ArvexSaveToFile)(ArvexHandle handle, const char *path, uint32_t zero1,
                                    uint32_t zero2, uint32_t a, uint32_t b,
                                    uint32_t c);                                 /* 33 */
typedef uint32_t (*ArvexSetDriverOption)(void *reserved, uint32_t option, uintptr_t value,
                                         uint32_t zero);                         /* 36 */
typedef uint32_t (*ArvexSetParameter)(ArvexHandle handle, uint32_t id, uint32_t value1,
                                      uint32_t value2);                          /* 40 */
typedef uint32_t (*ArvexGetStatus)(ArvexHandle handle, uint32_t *s0, uint32_t *s1,
                                   uint32_t *s2, uint32_t *s3, uint32_t *s4,
                                   uint32_t *s5);                                /* 41 */
typedef uint32_t (*ArvexSetWriteToDisk)(ArvexHandle handle, uint32_t start, uint8_t *request,
                                        ArvexW2dProgressCallback callback,
                                        void *context);                          /* 50 */
typedef uint32_t (*ArvexSetPivConfig)(ArvexHandle handle, const uint8_t *config);  /* 73 */
typedef uint32_t (*ArvexGetDeviceValue)(ArvexHandle handle, uint32_t id,
                                        uint32_t *out);                          /* 76 */
typedef uint32_t (*ArvexSetDeviceValue)(ArvexHandle handle, uint32_t id,
                                        uint32_t value);                         /* 77 */
typedef uint32_t (*ArvexGetStreamingGeometry)(ArvexHandle handle,
                                              uint8_t *geometry);                /* 80 */

/* The one symbol a driver library exports. */
typedef void *(*ArvexDriverOperationLookup)(unsigned ordinal);
#define ARVEX_DRIVER_LOOKUP_SYMBOL "arvex_driver_operation"

#ifdef __cplusplus
}
#endif

#endif
