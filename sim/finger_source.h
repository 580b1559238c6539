#pragma once
// The optics of the simulated sensor: what raw frame a 256 x 288 grey image
// lying on it produces. The frame undoes, as far as it can, what the frame
// conversion does: rows are thinned from 288 back to 272 in the middle of a
// 288-row plane, each row's 256 columns are spread over its keystone span,
// and the rows are mirrored. Half of the raw pixels are later replaced from
// their neighbours, so the image comes back slightly smoothed.
#include <cstdint>
#include <vector>

#include "sim/sensor_contract.h"

namespace vorsensor::sim {

// A raw frame (288 rows of 354 bytes) for the image (256 x 288, stride 256).
// Bytes 0 and 1 of each row carry a row header that is not image data.
void MakeRawFrame(const uint8_t* image, uint8_t* raw);
std::vector<uint8_t> RawFrameOf(const uint8_t* image);

// What an empty sensor looks like: bright, with a faint fixed texture.
std::vector<uint8_t> BlankSensorImage();

// The keystone margin of a sensor row, as the sensor's optics give it.
int32_t OpticalMargin(int32_t row);

}  // namespace vorsensor::sim
