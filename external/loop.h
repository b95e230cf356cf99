/* The SDR loop device library: a virtual sound-device pair and PTT for a software radio,
 * loaded at run time. Samples cross the boundary as doubles on the 16-bit scale. */
#ifndef TARPO_EXTERNAL_LOOP_H
#define TARPO_EXTERNAL_LOOP_H

#ifdef __cplusplus
extern "C" {
#endif

/* The file the program loads: beside the executable first, then on the library path. */
#define TARPO_LOOP_LIBRARY "libtarpo-loop.so"

/* on: 1 keys the transmitter, 0 unkeys it. */
typedef void (*tarpo_set_ptt_fn)(int on);
/* rate: always 48000; block_size: samples per block (at most 20000). */
typedef void (*tarpo_init_rx_recording_fn)(int rate, int block_size);
/* Fills block_size samples and returns nonzero, or returns 0 when no block came in time. */
typedef int (*tarpo_read_rx_fn)(double* samples);
typedef void (*tarpo_init_tx_playback_fn)(int rate, int block_size);
/* Takes block_size samples; returns nonzero when it accepted them. */
typedef int (*tarpo_write_tx_fn)(double* samples);

void SetPTT(int on);
void InitRXRecording(int rate, int block_size);
int ReadRX(double* samples);
void InitTXPlayback(int rate, int block_size);
int WriteTX(double* samples);

#ifdef __cplusplus
}
#endif

#endif
