#pragma once
// The state of the ESC key, polled between the steps of long operations. An application-wide
// event filter follows the key's presses and releases.
namespace yunshan {

// Starts following the key (once per application; later calls do nothing).
void track_esc_key();
// Whether ESC is held down at this moment (as far as the application has seen); any thread may ask.
bool esc_key_down();

} // namespace yunshan
