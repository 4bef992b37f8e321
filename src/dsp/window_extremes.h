// Largest and smallest value of a short stretch of a float array, running
// backward from index (never before 0) or forward (never past total - 1).
#pragma once

float WindowMax(const float* data, int width, int index, int forward, int total);
float WindowMin(const float* data, int width, int index, int forward, int total);
void WindowMinMax(const float* data, int width, int index, int forward, int total, float* outMax,
                  float* outMin);
