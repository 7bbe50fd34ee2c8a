/* A minimal bridge library for the binding tests: every export answers with a
 * fixed, recognisable value. Built twice: complete, and without one export
 * (LINK_TEST_OMIT_BULKREAD) to show that a library lacking an export the
 * program calls is refused. */
#include <string.h>

#include "usbbridge/usb_bridge.h"

int InitializeUSB(void) { return 1; }
void USB_Close(int handle) { (void)handle; }
int USB_BulkWrite(unsigned char* buffer, int length, int endpointIndex)
{
    (void)buffer;
    (void)length;
    return endpointIndex == 2 ? 0 : 2;
}
#ifndef LINK_TEST_OMIT_BULKREAD
int USB_BulkRead(unsigned char* buffer, int length, int endpointIndex)
{
    (void)endpointIndex;
    memset(buffer, 0, (size_t)length);
    return 0;
}
#endif
unsigned int GetPID(void) { return 0x8613; }
unsigned int GetVID(void) { return 0x04B4; }
void GetDLLVersion(char* text) { strcpy(text, "stub bridge"); }
unsigned int GetDriverVersion(void) { return 0; }
void GetDeviceID(char* text) { text[0] = 0; }
void GetStringDescriptor(char* text) { text[0] = 0; }
int USB_Check(const char* manufacturer) { (void)manufacturer; return 1; }
int USB_Init(const char* manufacturer) { (void)manufacturer; return 42; }
int download(void) { return 1; }
int USB_Send(int handle, unsigned char* data, int length)
{
    (void)handle;
    (void)data;
    (void)length;
    return 1;
}
unsigned char USB_Read(int handle) { (void)handle; return 0; }
unsigned char ReadData(int index) { (void)index; return 0; }
void StringDesc1(char* text) { strcpy(text, "CYUSB FX2"); }
void StringDesc2(char* text) { text[0] = 0; }
int SendVendorRequest(unsigned char direction, unsigned char request, unsigned short value,
                      unsigned short index, unsigned char* buffer, int length)
{
    (void)direction;
    (void)value;
    (void)index;
    if (length > 0)
        buffer[0] = request;
    return length > 0 ? buffer[0] : 0;
}
#ifndef LINK_TEST_OMIT_OPEN
int OpenUSBDevice(void) { return 1; }
#endif
