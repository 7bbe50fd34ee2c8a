/* Board firmware for the FX2 USB bridge of the evaluation board.
 *
 * Loaded into the FX2's RAM by the host (request 0xA0) after every power-up.
 * It re-enumerates with the board's identity (04b4:8613, manufacturer
 * "CYUSB FX2"), answers the board's vendor requests on endpoint 0 and moves
 * data between the bulk endpoints and the FPGA: while the FPGA is being
 * configured, every packet that arrives on EP4 is shifted out on port D, bit
 * by bit, least-significant bit first (data on PD0, clock on PD1); once the
 * FPGA runs (request 0xB0) the endpoints are switched to slave-FIFO mode and
 * the FPGA reads and writes them itself.
 *
 * It starts in slave-FIFO mode, so that a firmware reload under an FPGA that
 * keeps its configuration finds the FPGA's command path as it left it;
 * request 0xB1 switches to configuration mode, 0xB0 back.
 *
 * Everything is polled from the main loop; no interrupts are used.
 * Build: ./build.sh (SDCC), which regenerates fx2fw.hex beside this file.
 */

typedef unsigned char u8;
typedef unsigned int u16;

/* Special-function registers. */
__sfr __at(0x80) IOA;
__sfr __at(0xB0) IOD;
__sfr __at(0xB2) OEA;
__sfr __at(0xB5) OED;
__sfr __at(0xAA) EP2468STAT;

/* Registers in external data space. */
#define XREG(addr) (*(volatile __xdata u8*)(addr))
#define CPUCS XREG(0xE600)
#define IFCONFIG XREG(0xE601)
#define FIFORESET XREG(0xE604)
#define REVCTL XREG(0xE60B)
#define EP1OUTCFG XREG(0xE610)
#define EP1INCFG XREG(0xE611)
#define EP2CFG XREG(0xE612)
#define EP4CFG XREG(0xE613)
#define EP6CFG XREG(0xE614)
#define EP8CFG XREG(0xE615)
#define EP2FIFOCFG XREG(0xE618)
#define EP4FIFOCFG XREG(0xE619)
#define EP6FIFOCFG XREG(0xE61A)
#define EP8FIFOCFG XREG(0xE61B)
#define EP2AUTOINLENH XREG(0xE620)
#define EP2AUTOINLENL XREG(0xE621)
#define OUTPKTEND XREG(0xE649)
#define USBIRQ XREG(0xE65D)
#define USBCS XREG(0xE680)
#define TOGCTL XREG(0xE683)
#define EP2BCH XREG(0xE690)
#define EP2BCL XREG(0xE691)
#define EP4BCH XREG(0xE694)
#define EP4BCL XREG(0xE695)
#define EP0BCH XREG(0xE68A)
#define EP0BCL XREG(0xE68B)
#define EP0CS XREG(0xE6A0)
#define EP2CS XREG(0xE6A3)
#define EP4CS XREG(0xE6A4)
#define SUDPTRH XREG(0xE6B3)
#define SUDPTRL XREG(0xE6B4)
#define SETUPDAT ((volatile __xdata u8*)0xE6B8)
#define EP0BUF ((volatile __xdata u8*)0xE740)
#define EP4FIFOBUF ((volatile __xdata u8*)0xF400)

#define SYNCDELAY __asm__("nop\n\tnop\n\tnop\n\tnop")

/* ---- Descriptors ----------------------------------------------------------
 * The chip sends a descriptor itself from an even address in its RAM
 * (SUDPTR), so each one sits at a fixed, even address. */

__code __at(0x1000) const u8 deviceDescriptor[18] = {
    18, 1, 0x00, 0x02,      /* USB 2.0 */
    0xFF, 0xFF, 0xFF, 64,   /* vendor class, endpoint-0 packets of 64 */
    0xB4, 0x04, 0x13, 0x86, /* 04b4:8613 */
    0x00, 0x00,             /* bcdDevice */
    1, 2, 0,                /* manufacturer, product, no serial number */
    1};

__code __at(0x1020) const u8 qualifierDescriptor[10] = {10, 6, 0x00, 0x02, 0xFF, 0xFF, 0xFF, 64, 1, 0};

/* One configuration, one interface, four bulk endpoints: 512-byte packets at
 * high speed, 64-byte packets at full speed. */
#define CONFIG(packet)                                                  \
    {9, 2, 46, 0, 1, 1, 0, 0x80, 50,                                    \
     9, 4, 0, 0, 4, 0xFF, 0x00, 0x00, 0,                                \
     7, 5, 0x82, 2, (packet) & 0xFF, (packet) >> 8, 0,                  \
     7, 5, 0x04, 2, (packet) & 0xFF, (packet) >> 8, 0,                  \
     7, 5, 0x86, 2, (packet) & 0xFF, (packet) >> 8, 0,                  \
     7, 5, 0x88, 2, (packet) & 0xFF, (packet) >> 8, 0}
__code __at(0x1040) const u8 highSpeedConfig[46] = CONFIG(512);
__code __at(0x1080) const u8 fullSpeedConfig[46] = CONFIG(64);

__code __at(0x10C0) const u8 string0[4] = {4, 3, 0x09, 0x04};
__code __at(0x10C4) const u8 string1[20] = {20, 3, 'C', 0, 'Y', 0, 'U', 0, 'S', 0, 'B', 0, ' ', 0, 'F', 0, 'X', 0, '2', 0};
__code __at(0x10D8) const u8 string2[42] = {42, 3, 'T', 0, 'Q', 0, '5', 0, '1', 0, '7', 0, '0', 0, 'x', 0, ' ', 0,
                                            'E', 0, 'V', 0, 'B', 0, ' ', 0, 'U', 0, 'S', 0, 'B', 0, '-', 0,
                                            'F', 0, 'P', 0, 'G', 0, 'A', 0};

/* The firmware's version, answered by request 0xBC. The bridge reads the
 * same four bytes from the image it carries ("ZV", major, minor) and
 * downloads its image again when a board answers another version. */
__code __at(0x1110) const u8 firmwareVersion[4] = {'Z', 'V', 2, 0};

/* ---- State -------------------------------------------------------------------- */

static u8 configuration;
static u8 shiftEp4;   /* EP4 packets go to the FPGA's configuration pins */
static u16 chunkCount; /* the count announced by request 0xB4 */
static u16 shiftCount;

static void delay(u8 counts)
{
    volatile u8 i;
    while (counts--)
        for (i = 0; i < 40; ++i) {
        }
}

/* About 1.5 s at 48 MHz: long enough for every host to see the board leave
 * the bus before it comes back with other descriptors. */
static void renumerationDelay(void)
{
    u8 n;
    for (n = 0; n < 246; ++n) delay(250);
}

static void resetFifos(void)
{
    FIFORESET = 0x80;
    SYNCDELAY;
    FIFORESET = 0x02;
    SYNCDELAY;
    FIFORESET = 0x04;
    SYNCDELAY;
    FIFORESET = 0x06;
    SYNCDELAY;
    FIFORESET = 0x08;
    SYNCDELAY;
    FIFORESET = 0x00;
    SYNCDELAY;
}

/* Both EP4 buffers back to the USB side (REVCTL: the core does not arm
 * OUT buffers itself). */
static void armEp4(void)
{
    OUTPKTEND = 0x84; /* skip */
    SYNCDELAY;
    OUTPKTEND = 0x84;
    SYNCDELAY;
}

/* Data toggles of the bulk endpoints back to DATA0. */
static void resetToggles(void)
{
    TOGCTL = 0x12; /* EP2 IN */
    TOGCTL = 0x32;
    TOGCTL = 0x04; /* EP4 OUT */
    TOGCTL = 0x24;
    TOGCTL = 0x16; /* EP6 IN */
    TOGCTL = 0x36;
    TOGCTL = 0x18; /* EP8 IN */
    TOGCTL = 0x38;
}

/* Port mode with the FPGA's configuration pins driven from port D. */
static void configurationMode(void)
{
    IFCONFIG = 0xC0;
    SYNCDELAY;
    resetFifos();
    EP4FIFOCFG = 0x00;
    SYNCDELAY;
    armEp4();
    shiftEp4 = 1;
}

/* Slave-FIFO mode: the running FPGA reads EP4 and fills EP2, EP6 and EP8. */
static void fifoMode(void)
{
    shiftEp4 = 0;
    IFCONFIG = 0xE3;
    SYNCDELAY;
    resetFifos();
    EP4FIFOCFG = 0x00; /* arm both buffers, then hand EP4 to the FIFO */
    SYNCDELAY;
    armEp4();
    EP4FIFOCFG = 0x10; /* AUTOOUT */
    SYNCDELAY;
    EP2FIFOCFG = 0x0C; /* AUTOIN, zero-length packets */
    SYNCDELAY;
    EP6FIFOCFG = 0x0C;
    SYNCDELAY;
    EP8FIFOCFG = 0x0C;
    SYNCDELAY;
    EP2AUTOINLENH = 0x02;
    SYNCDELAY;
    EP2AUTOINLENL = 0x00;
    SYNCDELAY;
}

/* After SET_CONFIGURATION, SET_INTERFACE or a bus reset: toggles at DATA0
 * and the FIFOs emptied, in the mode the endpoints are in. */
static void resetEndpoints(void)
{
    resetToggles();
    if (shiftEp4) configurationMode();
    else fifoMode();
}

/* One EP4 packet out on port D, least-significant bit first. */
static void shiftPacket(void)
{
    u16 n = ((u16)EP4BCH << 8) | EP4BCL;
    u16 i;
    u8 b, bit, d;
    shiftCount = chunkCount;
    for (i = 0; i < n; ++i) {
        b = EP4FIFOBUF[i];
        for (bit = 0; bit < 8; ++bit) {
            d = b & 1;
            IOD = 0xC0 | d;
            IOD = 0xC2 | d;
            b >>= 1;
        }
    }
    IOD = 0xC0;
    OUTPKTEND = 0x84; /* done with the buffer: back to the USB side */
    SYNCDELAY;
}

/* ---- Endpoint 0 ---------------------------------------------------------------- */

/* Sends n bytes of EP0BUF as the data stage, never more than the host asked for. */
static void reply(u8 n)
{
    if (SETUPDAT[7] == 0 && SETUPDAT[6] < n) n = SETUPDAT[6];
    EP0BCH = 0;
    EP0BCL = n;
}

static void sendDescriptor(const u8 __code* d)
{
    u16 a = (u16)d;
    SUDPTRH = a >> 8;
    SUDPTRL = a & 0xFF;
}

static volatile __xdata u8* endpointCs(u8 ep)
{
    switch (ep) {
    case 0x00:
    case 0x80: return &EP0CS;
    case 0x01: return (volatile __xdata u8*)0xE6A1;
    case 0x81: return (volatile __xdata u8*)0xE6A2;
    case 0x02:
    case 0x82: return (volatile __xdata u8*)0xE6A3;
    case 0x04:
    case 0x84: return (volatile __xdata u8*)0xE6A4;
    case 0x06:
    case 0x86: return (volatile __xdata u8*)0xE6A5;
    case 0x08:
    case 0x88: return (volatile __xdata u8*)0xE6A6;
    default: return 0;
    }
}

static u8 standardRequest(void)
{
    const u8 type = SETUPDAT[3];
    const u8 index = SETUPDAT[2];
    volatile __xdata u8* cs;
    u8 __xdata* patch;
    switch (SETUPDAT[1]) {
    case 0x00: /* GET_STATUS */
        EP0BUF[0] = 0;
        EP0BUF[1] = 0;
        if ((SETUPDAT[0] & 0x1F) == 2) {
            cs = endpointCs(SETUPDAT[4]);
            if (!cs) return 0;
            EP0BUF[0] = *cs & 0x01;
        }
        reply(2);
        return 1;
    case 0x01: /* CLEAR_FEATURE */
    case 0x03: /* SET_FEATURE */
        if ((SETUPDAT[0] & 0x1F) != 2) return SETUPDAT[1] == 0x01;
        cs = endpointCs(SETUPDAT[4]);
        if (!cs) return 0;
        if (SETUPDAT[1] == 0x03) {
            *cs |= 0x01;
        } else {
            *cs &= ~0x01;
            TOGCTL = (SETUPDAT[4] & 0x0F) | ((SETUPDAT[4] & 0x80) >> 3);
            TOGCTL |= 0x20;
        }
        return 1;
    case 0x06: /* GET_DESCRIPTOR */
        switch (type) {
        case 1: sendDescriptor(deviceDescriptor); return 1;
        case 6: sendDescriptor(qualifierDescriptor); return 1;
        case 2:
        case 7:
            if (index != 0) return 0;
            /* Program RAM is also data RAM: the type byte says which speed's
             * configuration this is. */
            if ((USBCS & 0x80) == (type == 2 ? 0x80 : 0x00)) {
                patch = (u8 __xdata*)highSpeedConfig;
            } else {
                patch = (u8 __xdata*)fullSpeedConfig;
            }
            patch[1] = type;
            sendDescriptor((const u8 __code*)patch);
            return 1;
        case 3:
            if (index == 0) sendDescriptor(string0);
            else if (index == 1) sendDescriptor(string1);
            else if (index == 2) sendDescriptor(string2);
            else return 0;
            return 1;
        default: return 0;
        }
    case 0x08: /* GET_CONFIGURATION */
        EP0BUF[0] = configuration;
        reply(1);
        return 1;
    case 0x09: /* SET_CONFIGURATION */
        if (index > 1) return 0;
        configuration = index;
        resetEndpoints();
        return 1;
    case 0x0A: /* GET_INTERFACE */
        EP0BUF[0] = 0;
        reply(1);
        return 1;
    case 0x0B: /* SET_INTERFACE: only alternate setting 0 exists */
        if (index != 0) return 0;
        resetEndpoints();
        return 1;
    default: return 0;
    }
}

static u8 ack(void)
{
    EP0BUF[0] = 0x01;
    reply(1);
    return 1;
}

static u8 vendorRequest(void)
{
    const u8 value = SETUPDAT[2];
    switch (SETUPDAT[1]) {
    case 0x20:
        EP0BUF[0] = EP2BCL;
        EP0BUF[1] = EP2BCH;
        reply(2);
        return 1;
    case 0xB0: fifoMode(); return ack();
    case 0xB1:
        configurationMode();
        configurationMode();
        return ack();
    case 0xB2: IOA |= 0x10; return ack();
    case 0xB3:
        EP0BUF[0] = (IOA >> 1) & 1;
        reply(1);
        return 1;
    case 0xB4:
        chunkCount = value;
        EP0BUF[0] = 0x01;
        EP0BUF[1] = value;
        reply(2);
        return 1;
    case 0xB5:
        if (value == 1) IOA &= ~0x80;
        else if (value == 0) IOA |= 0x80;
        EP0BUF[0] = IOA;
        reply(1);
        return 1;
    case 0xB7:
        delay(value);
        EP0BUF[0] = value;
        reply(1);
        return 1;
    case 0xB9:
        IOD &= ~0x80;
        delay(30);
        IOD |= 0x80;
        return ack();
    case 0xBA:
        EP0BUF[0] = (IOD >> 3) & 1;
        EP0BUF[1] = (IOD >> 4) & 1;
        reply(2);
        return 1;
    case 0xBB: return ack();
    case 0xBC:
        EP0BUF[0] = firmwareVersion[2];
        EP0BUF[1] = firmwareVersion[3];
        reply(2);
        return 1;
    case 0xD0:
        FIFORESET = 0x80;
        reply(0);
        return 1;
    case 0xD1:
        FIFORESET = 0x00;
        reply(0);
        return 1;
    case 0xFD:
        /* Byte 0: a block waits for the host. EP2 is double-buffered and its
         * FULL flag means both buffers are committed, so the test is "not
         * empty": one committed 512-byte packet is a block to read. */
        EP0BUF[0] = (EP2468STAT & 0x01) ? 0 : 1;
        EP0BUF[1] = EP2468STAT;
        EP0BUF[2] = EP2CS;
        EP0BUF[3] = EP4CS;
        EP0BUF[4] = EP2BCH;
        EP0BUF[5] = EP2BCL;
        reply(6);
        return 1;
    default: return 0;
    }
}

static void setupPacket(void)
{
    u8 ok = 0;
    /* Data the host sends with a request is taken in and not used. */
    if (!(SETUPDAT[0] & 0x80) && (SETUPDAT[6] | SETUPDAT[7])) EP0BCL = 0;
    switch (SETUPDAT[0] & 0x60) {
    case 0x00: ok = standardRequest(); break;
    case 0x40: ok = vendorRequest(); break;
    default: break;
    }
    if (!ok) EP0CS |= 0x01; /* stall */
    EP0CS |= 0x80;          /* finish the status stage */
}

void main(void)
{
    CPUCS = (CPUCS & ~0x18) | 0x10; /* 48 MHz; CLKOUT stays as it is */
    SYNCDELAY;
    /* Levels first, then the drivers: PD7 (nCONFIG) never drives low. */
    IOA = 0x00;
    OEA = 0x90;
    IOD = 0xC0;
    OED = 0xC3;
    REVCTL = 0x03; /* DYN_OUT, ENH_PKT: OUT buffers are armed by this firmware */
    SYNCDELAY;
    EP1OUTCFG = 0x00;
    SYNCDELAY;
    EP1INCFG = 0x00;
    SYNCDELAY;
    EP2CFG = 0xE2; /* IN, bulk, 512, double buffered */
    SYNCDELAY;
    EP4CFG = 0xA0; /* OUT, bulk */
    SYNCDELAY;
    EP6CFG = 0xE2;
    SYNCDELAY;
    EP8CFG = 0xE0;
    SYNCDELAY;
    resetToggles();
    fifoMode();

    /* Leave the bus and come back as the board. */
    USBCS |= 0x0A; /* disconnect, firmware answers endpoint 0 */
    renumerationDelay();
    USBIRQ = 0xFF;
    USBCS &= ~0x08;

    for (;;) {
        if (USBIRQ & 0x01) { /* setup data available */
            USBIRQ = 0x01;
            setupPacket();
        }
        if (USBIRQ & 0x10) { /* bus reset */
            USBIRQ = 0x10;
            configuration = 0;
            resetEndpoints();
        }
        if (shiftEp4 && !(EP2468STAT & 0x04)) shiftPacket();
    }
}
