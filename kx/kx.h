#ifndef KX_H
#define KX_H

/* The device library's call contract: seventeen C entries, resolved by name at run time.
   Strings are NUL-terminated UTF-16 (wchar_t on Windows, char16_t elsewhere). Every entry
   returns 0 on success and a negative KX_E_* value otherwise. */

#include <stdint.h>

#ifdef _WIN32
typedef wchar_t kxchar;
#elif defined(__cplusplus)
typedef char16_t kxchar;
#else
typedef uint16_t kxchar;
#endif

#if !defined(KX_BUILDING)
#define KX_API
#elif defined(_WIN32)
#define KX_API __declspec(dllexport)
#else
#define KX_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* The fixed identification value every device call carries. */
#define KX_KEY 4118
/* Size of every transfer buffer, and the largest byte count one call moves. */
#define KX_BUFFER_SIZE 2048
/* Size of the device list block that kxDevices fills. */
#define KX_LIST_SIZE 42102
#define KX_RECORD_SIZE 2105
#define KX_MAX_RECORDS 20
/* Firmware blocks: at most this many bytes, at offsets that are multiples of it. */
#define KX_ROM_BLOCK 2000

/* Event codes given to the event callback (low 16 bits). */
#define KX_EVENT_ARRIVAL 1
#define KX_EVENT_REMOVAL 2

enum {
    KX_OK = 0,
    KX_E_ARGUMENT = -1,  /* null pointer, byte count outside 0..2048, wrong key or mode value */
    KX_E_NO_DEVICE = -2, /* no present device has that id */
    KX_E_RANGE = -3,     /* address or property id outside the device */
    KX_E_MODE = -4,      /* the call needs the other mode (normal or firmware update) */
    KX_E_STORAGE = -5,   /* the device state could not be saved; nothing changed */
    KX_E_VERIFY = -6     /* firmware image length or checksum wrong */
};

/* Called on the library's own thread. */
typedef int (*kxEventCallback)(uint32_t event);
typedef int (*kxDataCallback)(uint8_t** data, void* reserved);

KX_API int kxDeviceExist(const kxchar* id);
KX_API int kxDevices(uint32_t f0, uint32_t f1, uint32_t f2, uint32_t f3, uint32_t f4, uint32_t f5,
                     uint32_t f6, uint32_t f7, uint32_t f8, uint32_t f9, uint32_t f10, uint32_t f11,
                     uint32_t f12, uint32_t f13, uint32_t f14, uint32_t f15, uint32_t f16,
                     uint32_t f17, uint32_t f18, uint32_t f19, void* block, uint32_t size);
KX_API int kxOnDeviceEvent(kxEventCallback* cell);
KX_API int kxonDeviceData(const kxchar* id, const kxchar* path, uint32_t key, kxDataCallback* cell);
KX_API int kxAsk(const kxchar* id, const kxchar* sub, uint32_t key, uint8_t* buffer, int count);
KX_API int kxReset(const kxchar* id, const kxchar* sub, uint32_t key, uint32_t mode, uint8_t* flag,
                   uint32_t reserved);
KX_API int kxNotify(const kxchar* id, const kxchar* sub, uint32_t key, uint32_t event);
KX_API int kxRead(const kxchar* id, const kxchar* sub, uint32_t key, uint8_t* buffer, int count,
                  uint32_t address);
KX_API int kxWrite(const kxchar* id, const kxchar* sub, uint32_t key, const uint8_t* buffer,
                   int count, uint32_t address);
KX_API int kxReadProp(const kxchar* id, const kxchar* sub, uint32_t key, uint8_t* buffer, int count,
                      uint32_t prop);
KX_API int kxWriteProp(const kxchar* id, const kxchar* sub, uint32_t key, const uint8_t* buffer,
                       int count, uint32_t prop);
KX_API int kxScriptOut(const kxchar* id, const kxchar* sub, uint32_t key, const uint8_t* buffer,
                       int count);
KX_API int kxRebootRom(const kxchar* id, const kxchar* sub, uint32_t key);
KX_API int kxFinishUpdateRom(const kxchar* id, const kxchar* sub, uint32_t key);
KX_API int kxCheckRom(const kxchar* id, const kxchar* sub, uint32_t key, uint32_t length,
                      uint32_t checksum);
KX_API int kxBornRom(const kxchar* id, const kxchar* sub, uint32_t key, const uint8_t* buffer,
                     int length, uint32_t offset);
KX_API int kxEraseRom(const kxchar* id, const kxchar* sub, uint32_t key);

#ifdef __cplusplus
}
#endif

#endif
