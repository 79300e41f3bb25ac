/*
 * portwire_ncs.h - the network settings functions of the Portwire library.
 *
 * Included by portwire.h; include that one. These functions read and change
 * the settings of a printer's network interface over its configuration
 * protocol (UDP port 3289), send its control commands and discover the
 * interfaces on the local network by broadcast. They share no state with the
 * KPC_ port functions.
 *
 * Each call is self-contained: it opens a UDP socket, runs its exchanges and
 * closes the socket again. An unanswered request is sent again after the
 * maximum wait (NCSSetMaxTimeout, 6 s at start) up to the maximum number of
 * attempts (NCSSetMaxRetry, 2 at start), so an interface that does not answer
 * costs about 12 s.
 *
 * Addressing: `address` is an IPv4 address in network byte order, as
 * inet_addr() returns it (the four bytes of the dotted form in memory order).
 * The ByMAC functions take a 6-byte hardware address and a destination, a
 * broadcast address or the interface's own: settings are applied only by the
 * interface with that hardware address, and only its replies are accepted.
 *
 * Passwords are NUL-terminated byte strings of at most 16 characters; a null
 * password counts as empty. Functions that change settings log in with it,
 * and those that restart the interface wait 5 s for it before returning.
 *
 * Threads: the functions share one process-wide state (the maximum wait and
 * attempts, the last socket error, the hardware address of the last identity
 * reply, the discovery list). The library runs one call at a time: a call
 * from a second thread waits until the first has returned.
 *
 * Windows: call NCSWSAStartup once before the other functions and
 * NCSWSACleanup after them. On x86 the functions are exported under their
 * decorated __stdcall names (_NCSGetVersion@0, _NCSSetSettingsByMAC@20): a
 * program that resolves them by name asks for those.
 *
 * Results: NCS_OK (0) or one of the negative NCS_ codes below, unless a
 * function says otherwise.
 */
#ifndef PORTWIRE_NCS_H
#define PORTWIRE_NCS_H

#include <stdint.h>

#ifndef PORTWIRE_CALL
#ifdef _WIN32
#define PORTWIRE_CALL __stdcall
#else
#define PORTWIRE_CALL
#endif
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Result codes of the network settings functions ------------------- */
#define NCS_OK                  0
#define NCS_INVALID_ARGUMENT    (-1)   /* null pointer, out of range, or a setting refused before sending */
#define NCS_SOCKET_FAILED       (-2)   /* no socket, or SO_BROADCAST refused; see NCSGetLastError */
#define NCS_NO_REPLY            (-3)   /* no acceptable reply after the maximum number of attempts */
#define NCS_SEND_FAILED         (-4)   /* sending failed or sent fewer bytes than asked */
#define NCS_RECEIVE_FAILED      (-5)   /* waiting or receiving failed */
#define NCS_BAD_REPLY           (-6)   /* reply too short, or a nonzero result where 0 is required */
#define NCS_REFUSED             (-7)   /* the interface refused a login or wireless command */
#define NCS_WRONG_PASSWORD      (-8)   /* password longer than 16, or the interface said it is wrong */
#define NCS_INDEX_OUT_OF_RANGE  (-9)   /* NCSGetNIC: no discovered interface with that index */
#define NCS_UNEXPECTED          (-255) /* unexpected wireless result, or more than 8 DNS servers */

/* ---- Records (fixed byte layout, no padding) ---------------------------- */
#pragma pack(push, 1)

/* IP settings of an interface: 16 bytes. */
typedef struct NCSAddressSettings {
  uint16_t method;        /* addressing method, host byte order (0 from the interface reads 0x8000) */
  uint8_t ip[4];          /* bytes in dotted order */
  uint8_t mask[4];        /* must begin with 255 when setting */
  uint8_t gateway[4];
  uint8_t reserved[2];    /* cleared */
} NCSAddressSettings;

/* One wireless key slot. */
typedef struct NCSWirelessKey {
  uint8_t present;        /* nonzero: the key is set */
  uint8_t key[14];        /* keyLength bytes are used */
} NCSWirelessKey;

/* Wireless settings: 98 bytes. Keys are written, never read back. */
typedef struct NCSWirelessSettings {
  uint8_t channel;        /* 1 to 11 */
  char ssid[32];
  char ssidEnd;           /* always NUL */
  uint8_t mode;           /* communication mode: 0, 1, 4 or 5 when setting */
  uint8_t encryption;     /* 0 (none) to 3 */
  uint8_t keyIndex;       /* default key, 0 to 3 */
  uint8_t keyLength;      /* 0, 5 or 13 */
  NCSWirelessKey keys[4];
} NCSWirelessSettings;

/* Wireless status as the interface reports it: 45 bytes. The values' meaning
   belongs to the interface's firmware; they are passed on as they came. */
typedef struct NCSWirelessStatus {
  uint8_t value0;
  uint16_t value1;        /* host byte order */
  uint8_t value3;
  uint8_t value4;
  uint8_t value5;
  uint8_t value6[4];      /* as received */
  uint8_t value10[2];     /* as received */
  char ssid[32];
  char ssidEnd;           /* NUL */
} NCSWirelessStatus;

/* DNS names and servers: 354 bytes. */
typedef struct NCSDnsSettings {
  uint8_t nameValue[2];   /* the two value bytes of the names, passed through */
  char firstName[64];     /* at most 63 characters and a NUL */
  char secondName[253];   /* at most 252 characters and a NUL */
  uint8_t serverValue[2]; /* the two value bytes of the servers, passed through */
  uint8_t serverCount;    /* at most 8 */
  uint8_t servers[8][4];  /* IPv4 addresses, bytes in dotted order */
} NCSDnsSettings;

/* Automatic status: three 32-bit values as received, 12 bytes. */
typedef struct NCSAsbStatus {
  uint8_t values[3][4];
} NCSAsbStatus;

/* One interface: 18 bytes. */
typedef struct NCSDiscoverySummary {
  uint8_t mac[6];
  uint32_t address;       /* network byte order */
  uint16_t model;         /* interface model code */
  uint16_t version;       /* firmware version: high byte major, low byte minor */
  uint32_t wireless;      /* 1 for a wireless interface */
} NCSDiscoverySummary;

#pragma pack(pop)

/* The compiler that includes this header lays the records out as the library
   does (a negative array size stops the build otherwise). */
typedef char NCS_CHECK_AddressSettings_is_16_bytes[sizeof(NCSAddressSettings) == 16 ? 1 : -1];
typedef char NCS_CHECK_WirelessSettings_is_98_bytes[sizeof(NCSWirelessSettings) == 98 ? 1 : -1];
typedef char NCS_CHECK_WirelessStatus_is_45_bytes[sizeof(NCSWirelessStatus) == 45 ? 1 : -1];
typedef char NCS_CHECK_DnsSettings_is_354_bytes[sizeof(NCSDnsSettings) == 354 ? 1 : -1];
typedef char NCS_CHECK_AsbStatus_is_12_bytes[sizeof(NCSAsbStatus) == 12 ? 1 : -1];
typedef char NCS_CHECK_DiscoverySummary_is_18_bytes[sizeof(NCSDiscoverySummary) == 18 ? 1 : -1];

/* ---- Start, version, limits --------------------------------------------- */
/* Windows: WSAStartup asking for version 1.1, its result. Elsewhere 0. */
int32_t PORTWIRE_CALL NCSWSAStartup(void);
/* Windows: WSACleanup's result. Elsewhere 0. */
int32_t PORTWIRE_CALL NCSWSACleanup(void);
/* The version of this API: 530. */
int32_t PORTWIRE_CALL NCSGetVersion(void);
/* The system's error number of the last socket call that failed (WSAGetLastError
   on Windows, errno elsewhere); never reset. */
int32_t PORTWIRE_CALL NCSGetLastError(void);
/* Wait per attempt in seconds. Setting 0 restores 6; returns the stored value. */
int32_t PORTWIRE_CALL NCSGetMaxTimeout(void);
int32_t PORTWIRE_CALL NCSSetMaxTimeout(int32_t seconds);
/* Attempts per request. Setting 0 restores 2; returns the stored value. */
int32_t PORTWIRE_CALL NCSGetMaxRetry(void);
int32_t PORTWIRE_CALL NCSSetMaxRetry(int32_t count);

/* ---- Discovery ------------------------------------------------------------ */
/* Sends one discovery request to `broadcast` and lists the interfaces that
   answer until `seconds` (0: 5) pass without a reply. Returns the number of
   interfaces found, or a negative code. The list replaces the previous one. */
int32_t PORTWIRE_CALL NCSListUp(uint32_t broadcast, int32_t seconds);
/* The interface number `index` (from 0) of the last NCSListUp.
   NCS_INDEX_OUT_OF_RANGE at or above the number found; NCS_INVALID_ARGUMENT
   for a null out. */
int32_t PORTWIRE_CALL NCSGetNIC(int32_t index, NCSDiscoverySummary* out);
/* Hardware address, model code, firmware version and wireless flag of the
   interface at `address`. */
int32_t PORTWIRE_CALL NCSGetNICInfo(uint32_t address, NCSDiscoverySummary* out);

/* ---- Settings ----------------------------------------------------------- */
/* Reads the IP settings and, for a wireless interface, the wireless settings
   (keys are not read: the key slots stay cleared). Either out may be null,
   not both (NCS_INVALID_ARGUMENT without sending). */
int32_t PORTWIRE_CALL NCSGetSettingsByIP(uint32_t address, NCSAddressSettings* addressOut,
                                         NCSWirelessSettings* wirelessOut);
int32_t PORTWIRE_CALL NCSGetSettingsByMAC(const uint8_t* mac, uint32_t destination, NCSAddressSettings* addressOut,
                                          NCSWirelessSettings* wirelessOut);
/* Logs in with `password`, applies the IP settings and/or the wireless
   settings given (null: leave them), logs out storing them, and waits 5 s
   while the interface restarts. Checked before anything is sent
   (NCS_INVALID_ARGUMENT): IP 127.0.0.1 or 255.255.255.255, a mask that does
   not begin with 255, channel 0 or above 11, mode not 0/1/4/5, encryption
   above 3, key index above 3, key length not 0/5/13; a password longer than
   16 gives NCS_WRONG_PASSWORD. A failing log-out runs the whole sequence once
   more. Nothing is undone when a later step fails. */
int32_t PORTWIRE_CALL NCSSetSettingsByIP(uint32_t address, const NCSAddressSettings* settings,
                                         const NCSWirelessSettings* wireless, const char* password);
int32_t PORTWIRE_CALL NCSSetSettingsByMAC(const uint8_t* mac, uint32_t destination,
                                          const NCSAddressSettings* settings, const NCSWirelessSettings* wireless,
                                          const char* password);
/* Wireless status of the interface (NCS_INVALID_ARGUMENT for a null out). */
int32_t PORTWIRE_CALL NCSGetWiFiStatus(uint32_t address, NCSWirelessStatus* out);
/* Location and administrator texts: `buffer` holds 256 bytes. Setting sends at
   most 256 bytes of `text` (a text is required) and does not restart. */
int32_t PORTWIRE_CALL NCSGetLocation(uint32_t address, char* buffer);
int32_t PORTWIRE_CALL NCSGetAdmin(uint32_t address, char* buffer);
int32_t PORTWIRE_CALL NCSSetLocation(uint32_t address, const char* text, const char* password);
int32_t PORTWIRE_CALL NCSSetAdmin(uint32_t address, const char* text, const char* password);
/* DNS names and servers. NCSGetDNS gives NCS_UNEXPECTED when the interface
   reports more than 8 servers; NCSSetDNS restarts the interface (5 s). */
int32_t PORTWIRE_CALL NCSGetDNS(uint32_t address, NCSDnsSettings* out);
int32_t PORTWIRE_CALL NCSSetDNS(uint32_t address, const NCSDnsSettings* settings, const char* password);
/* Logs in with `current` and stores `next` as the interface's password. */
int32_t PORTWIRE_CALL NCSChangePasswd(uint32_t address, const char* current, const char* next);

/* ---- Status and control --------------------------------------------------- */
/* Sends the self-test request (SNMP, UDP port 161) with `value`. 0 whatever
   happened to it, NCS_SOCKET_FAILED without a socket. */
int32_t PORTWIRE_CALL NCSSelfTest(uint32_t address, int32_t value);
int32_t PORTWIRE_CALL NCSGetASB(uint32_t address, NCSAsbStatus* out);
/* Receiver name: `buffer` holds 32 bytes (not NUL-terminated when all are used). */
int32_t PORTWIRE_CALL NCSGetRxName(uint32_t address, char* buffer);
/* The interface's online state byte (0 to 255), or a negative code. */
int32_t PORTWIRE_CALL NCSGetOnline(uint32_t address);
/* The interface's two buffer sizes. NCS_INVALID_ARGUMENT for a null out and
   when no socket can be had. */
int32_t PORTWIRE_CALL NCSGetBufferSize(uint32_t address, uint32_t* first, uint32_t* second);
/* The IPv4 address (network byte order) of the interface's current
   connection. NCS_INVALID_ARGUMENT for a null out and when no socket can be had. */
int32_t PORTWIRE_CALL NCSGetConnectionIP(uint32_t address, uint32_t* out);
/* Control commands: restart the interface, clear its print buffer (no socket:
   NCS_INVALID_ARGUMENT), clear its time-out, force sending with `value`. */
int32_t PORTWIRE_CALL NCSReset(uint32_t address);
int32_t PORTWIRE_CALL NCSClearBuffer(uint32_t address);
int32_t PORTWIRE_CALL NCSClearTimeout(uint32_t address);
int32_t PORTWIRE_CALL NCSForceSend(uint32_t address, int32_t value);

#ifdef __cplusplus
}
#endif

#endif /* PORTWIRE_NCS_H */
