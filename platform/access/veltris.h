/* The client access library (libveltris.so, the VELTRIS.DLL of NT): the five
 * functions through which a console talks to one agent at a time. */
#ifndef VELTRIS_PLATFORM_ACCESS_VELTRIS_H
#define VELTRIS_PLATFORM_ACCESS_VELTRIS_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define VELTRIS_EXPORT __attribute__((visibility("default")))

/* Results of TapsorRpcOpen on a snapshot file, and of TapsorRpcWrite on one. */
#define TAPSOR_SNAPSHOT_UNREADABLE (-3)     /* the file cannot be opened or read */
#define TAPSOR_SNAPSHOT_NOT_A_SNAPSHOT (-4) /* not a VELTRIS snapshot */
#define TAPSOR_SNAPSHOT_CUT_SHORT (-5)      /* the snapshot ends before its end marker */
#define TAPSOR_SNAPSHOT_NO_REPLY (-6)       /* the snapshot holds no reply to the request */

/* Connects to the agent on `computer`: NULL or "" for this PC (local socket,
 * then TCP loopback), a name or IPv4 address (port from the endpoint mapper),
 * "NAME[port]", or a full RPC binding string. A leading "\\\\" is ignored.
 * "*SNAPSHOT* " and a path opens a snapshot file instead: every request is then
 * answered from the file, whatever the key.
 * 0 = open; -1 = failed without a message; a TAPSOR_SNAPSHOT_ code for a
 * snapshot; otherwise the RPC status of the failure. */
VELTRIS_EXPORT int32_t TapsorRpcOpen(const char* computer);

/* Sends one request (at most 255 characters are sent) and buffers its reply.
 * "OPEN " + text sets the access key for this and every later request.
 * 0 = delivered; -2 = access key refused; TAPSOR_SNAPSHOT_NO_REPLY for a
 * request a snapshot cannot answer ("CMD" texts it did not store); otherwise
 * the RPC status. */
VELTRIS_EXPORT int32_t TapsorRpcWrite(const char* request);

/* Copies the next `size` bytes of the buffered reply into `record`. 0 when a
 * whole record was there; -1 otherwise, with `record` zero-filled. */
VELTRIS_EXPORT int32_t TapsorRpcRead(void* record, int32_t size);

/* Writes the snapshot carried by the last reply ("SNAPSHOT" to a remote agent)
 * to `path`. 0 = written; -1 = no snapshot reply or the file failed. */
VELTRIS_EXPORT int32_t TapsorRpcSave(const char* path);

/* Ends the connection and forgets the key and the reply. Always 0. */
VELTRIS_EXPORT int32_t TapsorRpcClose(void);

#ifdef __cplusplus
}
#endif

#endif
