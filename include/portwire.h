/*
 * portwire.h - the C interface of the Portwire communication library.
 *
 * Everything the library exports is declared here: the KPC_ port functions
 * below and, from portwire_ncs.h (included at the end), the NCS network
 * settings functions with their records and result codes.
 *
 * Building against the installed development package:
 *   cc app.c $(pkg-config --cflags --libs portwire)
 * (the library lives in /usr/lib/trimsense; pkg-config's flags let the
 * program find it there at run time).
 *
 * Load the library at run time ("Portwire.dll" on Windows, "libPortwire.so" on
 * Linux) and resolve the functions by name, or link against it. Every function
 * returns a result code and never throws; pointers the caller must supply are
 * checked and answered with PW_INVALID_ARGUMENT.
 *
 * Calling order for one port:
 *   KPC_SetPort(&record)  -> KPC_Open(1) -> KPC_Initialize()
 *   KPC_Write / KPC_Read  ... -> KPC_Close()
 *   KPC_Terminate()       once, before the library is unloaded.
 *
 * Threads: any thread may call any function. Port functions are serialised by
 * one library-wide lock (a KPC_Read that waits holds it for its time-out).
 * Callbacks are called on the library's own threads, without its locks held.
 * A callback may call the port functions; while another thread is in
 * KPC_Close or KPC_Terminate (which wait for the thread the callback runs on)
 * such a call returns PW_NOT_OPEN at once instead of waiting for the lock.
 *
 * PORTWIRE_TRACE=<file> in the environment makes the library append a line
 * per KPC_ call and per block sent or received to that file (see the README).
 */
#ifndef PORTWIRE_H
#define PORTWIRE_H

#include <stdint.h>

#ifdef _WIN32
#define PORTWIRE_CALL __stdcall
#else
#define PORTWIRE_CALL
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Result codes ------------------------------------------------------ */
#define PW_OK                   0
#define PW_FAILED               ((int32_t)0x80000000) /* unsupported, zero-length write, no backend, component missing */
#define PW_NOT_OPEN             ((int32_t)0x80000001) /* no port open (or no backend selected) */
#define PW_ALREADY_OPEN         ((int32_t)0x80000002) /* a port is open: SetPort/Open refused */
#define PW_TIMEOUT              ((int32_t)0x80000003) /* the printer did not answer in time */
#define PW_BUFFER_TOO_SMALL     ((int32_t)0x80000004) /* reply larger than the buffer: it stays queued */
#define PW_DATA_PENDING         ((int32_t)0x80000005) /* data still held by the port service */
#define PW_DEVICE_STATE         ((int32_t)0x80000006) /* device state reported by the driver software */
#define PW_NOTHING_WRITTEN      ((int32_t)0x80000007) /* a write moved no byte */
#define PW_SETTINGS_MISMATCH    ((int32_t)0x80000008) /* settings not applied / network printer unreachable */
#define PW_SERVICE_ERROR        ((int32_t)0x80000009) /* passed on from the port service */
#define PW_CANNOT_LINK          ((int32_t)0x8000000B) /* printer in use elsewhere or link failed */
#define PW_INVALID_ARGUMENT     ((int32_t)0x8000000C) /* null pointer or value out of range */
#define PW_NO_RESPONSE          ((int32_t)0x8000000D) /* no response within the time-out (port service) */

/* ---- The port record (5764 bytes, little-endian, UTF-16 strings) -------- */
typedef uint16_t PW_TEXT[260];
typedef struct PortSettings {
  PW_TEXT portType;          /* "COM", "LPT", "USB", "NET", "BT" */
  PW_TEXT portName;          /* "COM3", "LPT1", "001", "192.0.2.7", ... */
  int32_t readTimeout;       /* ms used when KPC_Read gets -1 (-1 here: 2000) */
  int32_t writeTimeout;      /* ms used when KPC_Write gets -1 (-1 here: 2000) */
  int32_t route;             /* 1: maker's driver software; else direct access */
  PW_TEXT deviceName;
  PW_TEXT servicePortName;
  PW_TEXT modelName;
  int32_t reserved;
  int32_t baudRate;          /* serial: 1200 ... 115200 */
  int32_t parity;            /* serial: 0 none, 1 odd, 2 even */
  int32_t dataBits;          /* serial: 7 or 8 */
  int32_t flowControl;
  int32_t interfaceBoard;
  int32_t usbClass;          /* USB: 1 printer class, 0 vendor class */
  PW_TEXT bluetoothAddress;
  PW_TEXT interfaceName;
  PW_TEXT versionText;
  PW_TEXT secondVersionText;
  PW_TEXT usbSerialNumber;
  PW_TEXT usbSpeedText;
  int32_t routeKind;         /* 2 driver path, 3 port service, 0 otherwise */
} PortSettings;

/* ---- Callbacks ----------------------------------------------------------- */
/* Called on one thread of the library, never on the one that receives the
   printer's bytes, in the order of the reports; they may call any function.
   Only the registration's immediate call runs on the caller's thread.
   Received data that nobody reads is kept up to 4 MiB; beyond that the oldest
   blocks are dropped (PORTWIRE_TRACE notes how many). */
typedef void (PORTWIRE_CALL *KPC_StatusProc)(int32_t status, void* user);
typedef void (PORTWIRE_CALL *KPC_BatStatusProc)(uint32_t battery, void* user);   /* 16-bit value */
typedef void (PORTWIRE_CALL *KPC_RawStatusProc)(int32_t kind, const uint8_t* bytes, void* user);

/* ---- Port functions ------------------------------------------------------ */
/* Stores a copy of *record as the current port. PW_ALREADY_OPEN while open. */
int32_t PORTWIRE_CALL KPC_SetPort(PortSettings* record);
/* Opens the current port (pass 1). PW_ALREADY_OPEN, PW_CANNOT_LINK, PW_FAILED. */
int32_t PORTWIRE_CALL KPC_Open(int32_t mode);
/* Closes the port. PW_FAILED when nothing was open. */
int32_t PORTWIRE_CALL KPC_Close(void);
/* One received block into buffer. timeoutMs -1: the record's read timeout.
   *received (may be null) gets its length. PW_TIMEOUT when nothing came;
   PW_BUFFER_TOO_SMALL (with *received = the block's length) keeps the block. */
int32_t PORTWIRE_CALL KPC_Read(uint8_t* buffer, uint32_t size, uint32_t* received, int32_t timeoutMs);
/* Sends length bytes. PW_FAILED for length 0; *written (may be null) gets the count. */
int32_t PORTWIRE_CALL KPC_Write(const uint8_t* data, uint32_t length, uint32_t* written, int32_t timeoutMs);
/* The last printer status code (-1 before any, 16 link lost). */
int32_t PORTWIRE_CALL KPC_GetStatus(int32_t* status);
/* Prepares the open port and enables automatic status. */
int32_t PORTWIRE_CALL KPC_Initialize(void);
/* Discards everything received and not yet read. */
int32_t PORTWIRE_CALL KPC_Purge(void);
int32_t PORTWIRE_CALL KPC_Reset(void);
/* Status callbacks: Register calls the new callback once at once with the current value. */
int32_t PORTWIRE_CALL KPC_RegisterStatusProc(KPC_StatusProc proc, void* user);
int32_t PORTWIRE_CALL KPC_UnregisterStatusProc(void);
int32_t PORTWIRE_CALL KPC_RegisterBatStatusProc(KPC_BatStatusProc proc, void* user);
int32_t PORTWIRE_CALL KPC_UnregisterBatStatusProc(void);
int32_t PORTWIRE_CALL KPC_RegistRawStatusCallBack(KPC_RawStatusProc proc, void* user);
void    PORTWIRE_CALL KPC_UnregistRawStatusCallback(void);
int32_t PORTWIRE_CALL KPC_SetDisableOffOffline(void);
int32_t PORTWIRE_CALL KPC_SetResponseACK(int32_t flag);
/* 1: ignore the printer's flow control for what follows; 0: obey it again. */
int32_t PORTWIRE_CALL KPC_SetFlowCtrlForced(int32_t flag);
/* Unloads the components the library loaded; call once before unloading it. */
int32_t PORTWIRE_CALL KPC_Terminate(void);
int32_t PORTWIRE_CALL KPC_GetAccessVersion(int32_t* routeKind);
/* ---- Port listing ---------------------------------------------------------- */
/* Copies the current record to *record. While no port is open a "USB" record
   is completed with the device's details (interface name, device version,
   serial number, speed and class text, interface board flag; service port
   name = the device's identity) and a "NET" record with the network
   interface's (hardware address as service port name, interface name,
   versions). PW_INVALID_ARGUMENT for a null pointer; else PW_OK. */
int32_t PORTWIRE_CALL KPC_GetPort(PortSettings* record);
/* Lists the ports of one type that exist: portType (UTF-16, ignoring case) is
   "COM", "LPT", "USB", "NET" (network interfaces that answer a broadcast within
   3 s), "BT" (serial ports of paired Bluetooth printers, with hardware address
   and model name) or "SERIAL" (the other serial ports). "BT" and "SERIAL" list
   all serial ports where Bluetooth is not supported. array holds capacity
   pointers to caller-owned records; up to capacity of them are filled (each
   from the record defaults) and *found gets their number. COM/LPT records are
   "COMn"/"LPTn" in ascending order; USB records are numbered "001", "002", ...
   vendor class (usbClass 0) first, then printer class (usbClass 1), with the
   device's identity as service port name. PW_FAILED for another type;
   PW_INVALID_ARGUMENT for a null type or found, or a null array or record
   where records are to be filled. On Linux COM numbers follow the README's
   table (COM33 and up: USB-serial adapters, ...). */
int32_t PORTWIRE_CALL KPC_EnumDevPort(const uint16_t* portType, PortSettings** array, uint32_t capacity,
                                      uint32_t* found);
/* Fills *out with the default record; always returns PW_FAILED. */
int32_t PORTWIRE_CALL KPC_FindPort(int32_t unused, PortSettings* out);
int32_t PORTWIRE_CALL KPC_RecoverySending(void);
int32_t PORTWIRE_CALL KPC_ReopenPort(void);
int32_t PORTWIRE_CALL KPC_SetModelType(int32_t type);
int32_t PORTWIRE_CALL KPC_SetPortConnector(int32_t value);
int32_t PORTWIRE_CALL KPC_IsPortConnectorEnabled(int32_t* enabled);
/* Caller id 0..4; PW_INVALID_ARGUMENT above 4 or for a null pointer. */
int32_t PORTWIRE_CALL KPC_SetCaller(uint32_t caller);
int32_t PORTWIRE_CALL KPC_GetCaller(int32_t* caller);

/* ---- Port maintenance (ports reached through the maker's driver software) --
 * Records with route 1 are opened through the maker's port service (access
 * version 3) or, when it is missing or cannot open the port, its driver path
 * (access version 2); see KPC_GetAccessVersion. */

/* Refreshes the list of ports that the driver software knows (the port
   service's when it is installed, else the driver path's). The four arguments
   are not used. Always PW_OK. */
int32_t PORTWIRE_CALL KPC_EnumPort(int32_t unused1, int32_t unused2, int32_t unused3, int32_t unused4);
/* Completes *record from the ports the driver software knows (device name,
   route 1 when found); a "USB" record that none knows gets USB class and
   device path of the USB printer numbered by its port name ("001", ...).
   PW_ALREADY_OPEN while a port is open (nothing changes);
   PW_INVALID_ARGUMENT for null. */
int32_t PORTWIRE_CALL KPC_AddPort(PortSettings* record);
/* Changes the settings of the open port from *record, by the open port's type:
     "USB"  takes the record's USB class;
     "COM"  closes the port (open it again afterwards), writes baud rate,
            parity and flow control into the driver software on route 1, and
            keeps them (data bits too, except on route 1) for the next open;
     "NET"  moves the network interface to the address in the record's port
            name: PW_SETTINGS_MISMATCH (nothing sent) when the interface does
            not answer or the address lies outside its present subnet; else
            the port is closed, on route 1 renamed in the driver software, the
            address set, and the record becomes the current port.
   PW_NOT_OPEN without an open port; PW_FAILED for "LPT", other types and a
   failed rename or address change; PW_INVALID_ARGUMENT for null. */
int32_t PORTWIRE_CALL KPC_PortSetting(PortSettings* record);
/* Opens the port of *record, checks it (route 1 serial ports: the driver's
   settings must equal the record's, else PW_SETTINGS_MISMATCH), prepares the
   printer, stores its model name in record->modelName and the access version
   in record->routeKind, and closes the port again. The first failing step's
   result; PW_INVALID_ARGUMENT for null. */
int32_t PORTWIRE_CALL KPC_CommunicationTest(PortSettings* record);
/* Subscribes a device-state callback at the driver software of the open port
   (access version 3: the port service, event 0x60001; 2: the driver path,
   event 0x40002). The callback has that software's own form and is called on
   its threads; callback and user pass through unchanged. PW_NOT_OPEN without
   an open port; PW_FAILED on the direct route. */
int32_t PORTWIRE_CALL KPC_RegisterDeviceStateCallback(void* callback, void* user);
int32_t PORTWIRE_CALL KPC_UnregisterDeviceStateCallback(void* callback, void* user);

#ifdef __cplusplus
}
#endif

#include "portwire_ncs.h"

#endif /* PORTWIRE_H */
