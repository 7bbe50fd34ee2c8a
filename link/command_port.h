#pragma once
// The command port moved beside the cores; this name stays for older includes.
#include "common/command_port.h"
