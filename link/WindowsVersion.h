#pragma once

// Whether the system tells its version (the extended record first, then the plain one).
bool QueryWindowsVersion();
