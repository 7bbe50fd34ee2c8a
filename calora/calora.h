#pragma once
/* The fourteen C exports of libCalora.so: a Modbus RTU temperature controller
 * (slave 1, 9600 baud 8N1) on the serial port "com1", which is /dev/ttyS0
 * unless the environment variable CALORA_PORT names another device.
 *
 * Every call that talks to the controller opens the port exclusively, performs
 * one transaction (up to 10 attempts for a write, one exchange for a read) and
 * closes the port again. Failures are reported as one line each on standard
 * error: "Calora [warning] ...", "Calora [error] ..." or "Calora [plain] ...";
 * a line break inside a message is written as the two characters \n.
 *
 * Results: `bool` is the 1-byte C `_Bool` (C++ `bool`); 0/false is failure.
 * The reading exports return NaN when the port cannot be used, no valid reply
 * arrives or the calibration has no real root; GetBarGraphDisplaySel returns
 * 0xFF in those cases (valid selections are 0-9). No exception leaves the
 * library. */

#ifdef __cplusplus
extern "C" {
#else
#include <stdbool.h>
#endif

#define CALORA_API __attribute__((visibility("default")))

/* Register 0x003A: write 1 (stop) or 0 (run). */
CALORA_API bool StopTemp(void);
CALORA_API bool RunTemp(void);

/* Setpoints in degrees Celsius, calibrated before they are written. SetPoint1
 * returns 1.0 when written, 0.0 when not. */
CALORA_API double SetPoint1(double temperature);
CALORA_API bool SetPoint2(double temperature);

/* Temperatures in degrees Celsius (registers 0x0000, 0x0002, 0x004E, 0x005A). */
CALORA_API double ReadTemp(void);
CALORA_API double ReadTemp2(void);
CALORA_API double GetSetPoint1(void);
CALORA_API double GetSetPoint2(void);

/* Bar-graph display selection 0-9 (register 0x0202). */
CALORA_API unsigned char SetBarGraphDisplaySel(unsigned char selection);
CALORA_API unsigned char GetBarGraphDisplaySel(void);

/* Transmission output type 0-9 of output 1, 2 or 3. */
CALORA_API unsigned char SetTransmissionOutputType(unsigned char output, unsigned char type);

/* Input-2 use selection 0-2 (register 0x0286). */
CALORA_API bool SetInput2UseSel(unsigned char selection);

/* Input auto-transfer of input 1 or 2 (registers 0x0034, 0x0036). */
CALORA_API unsigned char SetInputAutoTransfer(unsigned char input, unsigned char value);

/* Replaces the calibration t -> a*t*t + b*t + c (initially 6e-06, 0.9959,
 * 2.3287). Always true. With a = 0 the reading exports return NaN. */
CALORA_API bool SetCalibrationData(double a, double b, double c);

#ifdef __cplusplus
}
#endif
