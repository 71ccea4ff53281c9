#pragma once

// Looks through the present devices for the tracker's USB-serial bridge, keeps its port name in
// g_portName and shows it on the open pages that display the port. User-interface thread only.
void FindTrackerPort();
