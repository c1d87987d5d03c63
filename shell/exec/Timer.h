// The .timer display: elapsed and processor times around each SQL chunk.
#pragma once

bool hasTimer();
void startTimer();
void stopTimer();
