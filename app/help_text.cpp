#include "app/help_text.h"

#include <cstdio>

#include "common/message.h"
#include "common/report.h"

// The version is set once, by project() in CMakeLists.txt.
#ifndef MURVECOLOR_VERSION
#error "MURVECOLOR_VERSION is defined by the build"
#endif

namespace murve {
namespace {

#ifdef _WIN32
constexpr const char* k_port_map =
    N_("Ports: -com N opens COM N (1 to 16); -port COMn opens any COM port, COM17 and above\n"
       "included, and -port \\\\.\\COMn the device path itself. -port usb:... opens the USB\n"
       "adapter it names by its IDs, serial number or place, whatever COM number it has now,\n"
       "as murvecolor -list shows it. Device Manager lists the ports under\n"
       "\"Ports (COM & LPT)\", and murvecolor -list probes each of them.\n");
constexpr const char* k_manuals = N_("README-windows.txt, beside murvecolor.exe, tells more.\n");
#else
constexpr const char* k_port_map =
    N_("Ports: -port PATH opens the device itself (/dev/ttyUSB0, or its name under\n"
       "/dev/serial/by-id/, which stays the same in any USB socket); -port usb:... opens the\n"
       "USB adapter it names by its IDs, serial number or place, as murvecolor -list shows it.\n"
       "-com N opens the path in the variable MURVECOLOR_COM<N> when it is set, and\n"
       "/dev/ttyS<N-1> otherwise (COM1 is /dev/ttyS0). murvecolor -list probes every serial\n"
       "port for a MURVE Pro.\n");
constexpr const char* k_manuals =
    N_("Manual pages: murvecolor(1), murvedump(1), murvesim(1) and murve_color.cfg(5).\n");
#endif

constexpr const char* k_options =
    N_("usage: murvecolor -com N | -port PORT [-config FILE] [-baud RATE] [-backup FILE]\n"
       "                  [-verify | -check]\n"
       "       murvecolor -n [-config FILE]\n"
       "       murvecolor -list [-baud RATE]\n"
       "       murvecolor --help | --version\n"
       "Writes the colour settings in FILE into a MURVE Pro over its serial console, reads\n"
       "0x080-0x15F back and lists them.\n"
       "\n"
       "  -com N       the COM port, 1 to 16\n"
       "  -port PORT   the port itself, in place of -com (the later of the two stands)\n"
       "  -config FILE the settings file (default murve_color.cfg in the current folder)\n"
       "  -baud RATE   run the line at RATE baud for this run; without it the port keeps its\n"
       "               own rate, which it has again afterwards in any case\n"
       "  -verify      after the listing, compare what the device holds with what was written\n"
       "  -check       write nothing: read the device back, list it and compare it with FILE\n"
       "  -backup FILE before the first write, save what the device holds to FILE (or to a new\n"
       "               file in the folder FILE) as murvedump would; nothing is written unless it\n"
       "               was saved. MURVECOLOR_BACKUP=FOLDER does the same for every run\n"
       "  -n           open no port: read FILE, with its warnings, and print the commands a\n"
       "               run would send, as it echoes them\n"
       "  -list        probe every serial port with a carriage return and h, and list them\n"
       "               with what answered; nothing else is sent\n"
       "  --help       this text\n"
       "  --version    the version\n"
       "\n");

constexpr const char* k_exit_statuses =
    N_("\n"
       "Exit status: 0, whatever happened, without -verify, -check, -list or -n: the output\n"
       "says what happened. With -verify or -check: 0 when the device holds the signature and\n"
       "every byte of the settings, 1 otherwise. With -list: 0 when a MURVE Pro answered, 1 when\n"
       "none did. With -n: 0 when FILE was read, 1 when it was refused. A rejected command line\n"
       "gives 2 when one of those four is among the arguments. With -backup: 1 when the backup\n"
       "could not be saved, and nothing was written. Why something failed is said on standard\n"
       "error.\n"
       "\n");

}  // namespace

void print_help_text() {
  print_output("%s%s%s%s", message(k_options).c_str(), message(k_port_map).c_str(),
               message(k_exit_statuses).c_str(), message(k_manuals).c_str());
}

void print_version() {
  print_output("murvecolor %s\n", MURVECOLOR_VERSION);
}

}  // namespace murve
