// The "fft" image: smoothed_spectrum (audio/spectrum.h) as a 512 × 1 R32F
// stream image, which the spectrum background samples (nearest, repeat).
// upload_fft_image runs once per frame once the spectrum is set up: it makes
// the image when there is no valid one yet and writes the smoothed values into
// it. Main thread only, with the graphics layer set up.
#pragma once
#include "gfx/gfx.h"

void upload_fft_image();
gfx::Image fft_image();  // id 0 until the first upload
