/*
 * portwire_example.c - a point-of-sale program's first exchange with a
 * KP-S410 through the Portwire library.
 *
 * It opens the port named on the command line, registers a status callback,
 * sends the model query, prints the printer's reply and its status, and
 * closes the port again. Every result code is checked.
 *
 * Build against the installed development package:
 *   cc portwire_example.c $(pkg-config --cflags --libs portwire) -o portwire_example
 * Run:
 *   ./portwire_example NET 192.0.2.10      network printer (TCP port 9100)
 *   ./portwire_example COM COM3 38400      serial port, baud rate (default 9600)
 *   ./portwire_example USB 001             first USB printer
 * PORTWIRE_TRACE=trace.txt ./portwire_example ...  logs every call and block.
 *
 * Exit code: 0 when the printer answered, 1 for a wrong command line, 2 when
 * a library call failed.
 */
#include <portwire.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

/* The model query of the KP-S410; its reply ends with a zero byte. */
static const uint8_t kModelQuery[] = {0x10, 0x14, 0x12, 0x00, 0x00};

/* Short names of the library's result codes, for messages. */
static const char* result_name(int32_t code) {
  switch (code) {
    case PW_OK: return "ok";
    case PW_FAILED: return "failed";
    case PW_NOT_OPEN: return "no port open";
    case PW_ALREADY_OPEN: return "a port is already open";
    case PW_TIMEOUT: return "time-out";
    case PW_BUFFER_TOO_SMALL: return "buffer too small";
    case PW_DATA_PENDING: return "data pending";
    case PW_DEVICE_STATE: return "device state";
    case PW_NOTHING_WRITTEN: return "nothing written";
    case PW_SETTINGS_MISMATCH: return "settings mismatch or printer unreachable";
    case PW_SERVICE_ERROR: return "port service error";
    case PW_CANNOT_LINK: return "cannot link to the printer";
    case PW_INVALID_ARGUMENT: return "invalid argument";
    case PW_NO_RESPONSE: return "no response";
    default: return "unknown";
  }
}

/* Prints a failed call and tells the caller to stop. */
static int failed(const char* call, int32_t code) {
  if (code == PW_OK) return 0;
  fprintf(stderr, "%s: 0x%08X (%s)\n", call, (unsigned)code, result_name(code));
  return 1;
}

/* The record's text fields are UTF-16; the command line is ASCII here. */
static void set_text(uint16_t* field, const char* text) {
  size_t i = 0;
  for (; text[i] != '\0' && i < 259; ++i) field[i] = (uint16_t)(unsigned char)text[i];
  field[i] = 0;
}

/* Called by the library on its own thread, without its locks held: once at
   registration with the current status, then whenever the printer reports
   (16: link lost). Keep it short; it may call the port functions. */
static void PORTWIRE_CALL on_status(int32_t status, void* user) {
  volatile int32_t* last = (volatile int32_t*)user;
  *last = status;
  printf("status callback: %d\n", (int)status);
  fflush(stdout);
}

int main(int argc, char** argv) {
  if (argc < 3) {
    fprintf(stderr, "usage: %s TYPE NAME [BAUD]   e.g. NET 192.0.2.10, COM COM3 38400, USB 001\n", argv[0]);
    return 1;
  }

  /* Start from the library's default record ("Unknown" texts, time-outs of
     2000 ms, 9600 baud, 8 data bits); KPC_FindPort always answers PW_FAILED. */
  PortSettings record;
  memset(&record, 0, sizeof record);
  if (KPC_FindPort(0, &record) != PW_FAILED) return 2;
  set_text(record.portType, argv[1]);
  set_text(record.portName, argv[2]);
  if (argc > 3) record.baudRate = atoi(argv[3]);
  record.route = 0; /* direct access, no driver software */

  if (failed("KPC_SetPort", KPC_SetPort(&record))) return 2;
  if (failed("KPC_Open", KPC_Open(1))) return 2;

  int rc = 2;
  static volatile int32_t last_status = -1;
  uint8_t reply[256];
  uint32_t written = 0, received = 0;
  int32_t status = -1;

  /* From here on the port is open: every way out closes it. */
  if (failed("KPC_RegisterStatusProc", KPC_RegisterStatusProc(on_status, (void*)&last_status))) goto close;
  /* Prepares the printer and switches its automatic status on. */
  if (failed("KPC_Initialize", KPC_Initialize())) goto unregister;
  if (failed("KPC_Write", KPC_Write(kModelQuery, sizeof kModelQuery, &written, 2000))) goto unregister;
  /* One KPC_Read returns one whole reply. */
  if (failed("KPC_Read", KPC_Read(reply, sizeof reply, &received, 2000))) goto unregister;

  printf("reply (%u bytes):", (unsigned)received);
  for (uint32_t i = 0; i < received; ++i) printf(" %02X", reply[i]);
  printf("  \"");
  for (uint32_t i = 0; i < received; ++i) putchar(reply[i] >= 0x20 && reply[i] < 0x7F ? reply[i] : '.');
  printf("\"\n");
  if (failed("KPC_GetStatus", KPC_GetStatus(&status))) goto unregister;
  printf("status: %d (last callback: %d)\n", (int)status, (int)last_status);
  rc = 0;

unregister:
  if (failed("KPC_UnregisterStatusProc", KPC_UnregisterStatusProc())) rc = 2;
close:
  if (failed("KPC_Close", KPC_Close())) rc = 2;
  /* Once, before the program ends or unloads the library. */
  if (failed("KPC_Terminate", KPC_Terminate())) rc = 2;
  return rc;
}
