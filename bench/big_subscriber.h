#pragma once
// The largest subscriber the cases use: model 9 with 100 sections of 30 bytes
// (tipo 2) at 32-byte steps, and subscriber 1 holding all 3,000 values.

// With `allForUpload` every value is marked for upload; otherwise the marks
// cycle through -1, 0 and 1 so every mark picture shows.
void seedBigSubscriber(bool allForUpload);
