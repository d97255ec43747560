/* Between the Visual C++ face of OvrinComm (vc/, compiled for Visual C++'s
 * ABI) and the connection code (compiled by MinGW's g++): plain C calls that
 * both compilers make alike. `object` is the host's object: Visual C++'s
 * vtable pointer, then the seven fields where the connection code has them.
 * Not exported. */
#ifndef OVRIN_VC_BRIDGE_H
#define OVRIN_VC_BRIDGE_H

#ifdef __cplusplus
extern "C" {
#endif

/* Room for every port name the search can give ("\\.\" and a listed name). */
#define OVRIN_VC_PORT_SIZE 260

/* The fields as the constructors leave them; the vtable pointer is kept. */
void ovrin_vc_construct(void* object);
void ovrin_vc_copy(void* object, const void* other);
void ovrin_vc_assign(void* object, const void* other);
/* Closes an open connection and forgets what lives beside the object. */
void ovrin_vc_destroy(void* object);

/* Open and FindAndOpen; the port name that came out (the one opened, or the
 * remembered one when nothing was found) goes to port, its length to
 * *portLength. */
int ovrin_vc_open(void* object, char* port, int* portLength, void* window);
void* ovrin_vc_find_and_open(void* object, const char* preferred, int preferredLength, char* port, int* portLength);
/* Releases a port FindAndOpen gave when the host's string cannot take its name. */
void ovrin_vc_release_port(void* port);
int ovrin_vc_send_msg(void* object, void* port, const char* text, int length);
int ovrin_vc_close(void* object);
int ovrin_vc_measure(void* object);
void ovrin_vc_set_listen(void* object, int listen);
int ovrin_vc_send_command(void* object, unsigned a, unsigned b, unsigned c);
void ovrin_vc_desc_error(int* (*codeSource)(void), char* buffer, int bufferLength);

/* Gives a block the host allocated back to the C runtime whose heap holds
 * it; when no loaded runtime holds it, it stays the host's (vc_host_heap.cpp). */
void ovrin_vc_free_host_block(void* block);

#ifdef __cplusplus
}
#endif

#endif /* OVRIN_VC_BRIDGE_H */
