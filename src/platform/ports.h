// Every port the core uses, one header each. A backend (backend/win32, backend/linux,
// tests/fakes) implements them; nothing here names an OS type.
#pragma once

#include "platform/bitmap_source.h"
#include "platform/clock.h"
#include "platform/file_store.h"
#include "platform/hid_host.h"
#include "platform/instance_guard.h"
#include "platform/presenter.h"
#include "platform/shell.h"
#include "platform/sound_input.h"
#include "platform/tray_port.h"
#include "platform/window_port.h"
