// Placeholder until this port is written.
#pragma once
