// Firmware packages, raw images, their information block, and push_firmware.
#pragma once

// Action "push_firmware": 0 when uploaded and the upgrade was accepted, 1 otherwise, 2 usage.
int push_firmware(const char* ip, const char* firmwarefile);
