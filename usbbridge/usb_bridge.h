#pragma once
/* The twenty C exports of libUsbBridge.so. This header is the ABI contract
 * between the library and the program, which loads it with dlopen and keeps a
 * table of pointers of exactly these types. All buffers belong to the caller;
 * the library keeps no pointer to them after a call returns. */

#ifdef __cplusplus
extern "C" {
#endif

#define USBBRIDGE_API __attribute__((visibility("default")))

/* Firmware download by script replay ("CYUSB.spt"); 1 done, 0 failed. */
USBBRIDGE_API int InitializeUSB(void);
/* Closes the device when one is open; the argument is ignored. */
USBBRIDGE_API void USB_Close(int handle);
/* 0 sent; 1 failed; 2 endpoint is IN; 3 not bulk; 4 fewer than 5 endpoints; 6 board not present. */
USBBRIDGE_API int USB_BulkWrite(unsigned char* buffer, int length, int endpointIndex);
/* 0 received; 1 failed; 3 endpoint is OUT; 4 fewer than 5 endpoints; 6 not present or bad index. */
USBBRIDGE_API int USB_BulkRead(unsigned char* buffer, int length, int endpointIndex);
/* Product and vendor ID of the open device (zero-extended 16-bit values). */
USBBRIDGE_API unsigned int GetPID(void);
USBBRIDGE_API unsigned int GetVID(void);
/* Writes "UsbBridge.dll v1.1.0". */
USBBRIDGE_API void GetDLLVersion(char* text);
/* Driver version; 0 when it cannot be read. */
USBBRIDGE_API unsigned int GetDriverVersion(void);
/* Friendly name and device name of the open device (buffers >= 256 bytes). */
USBBRIDGE_API void GetDeviceID(char* text);
USBBRIDGE_API void GetStringDescriptor(char* text);
/* -1 no device open; 0 none present or manufacturer differs; 1 matches. */
USBBRIDGE_API int USB_Check(const char* manufacturer);
/* The driver handle value when the manufacturer matches, else 0. */
USBBRIDGE_API int USB_Init(const char* manufacturer);
/* Downloads the firmware image and cycles the port; see the library docs. */
USBBRIDGE_API int download(void);
/* 1 sent; 0 failed; 3 endpoint 2 not bulk; 4 fewer than 5 endpoints; 5 handle differs; 6 not present. */
USBBRIDGE_API int USB_Send(int handle, unsigned char* data, int length);
/* Bytes received modulo 256, or an error code (1, 3, 4, 5, 6). */
USBBRIDGE_API unsigned char USB_Read(int handle);
/* Byte (index & 0xFF) of the receive buffer filled by USB_Read. */
USBBRIDGE_API unsigned char ReadData(int index);
/* Manufacturer and product strings, at most 63 characters (buffers >= 64 bytes). */
USBBRIDGE_API void StringDesc1(char* text);
USBBRIDGE_API void StringDesc2(char* text);
/* Vendor request on endpoint 0; returns buffer[0] after the transfer, 0 when no device is open. */
USBBRIDGE_API int SendVendorRequest(unsigned char direction, unsigned char request, unsigned short value,
                                    unsigned short index, unsigned char* buffer, int length);
/* 1 board found and prepared; 0 none. */
USBBRIDGE_API int OpenUSBDevice(void);

#ifdef __cplusplus
}
#endif
