/* The identification-burst library (RSID): detects our burst in the receiver's audio and
 * produces it for the transmitter. */
#ifndef TARPO_EXTERNAL_RSID_H
#define TARPO_EXTERNAL_RSID_H

#ifdef __cplusplus
extern "C" {
#endif

void init_rsid(void);
/* samples: 960 samples at 6000 Hz (160 ms), in 16-bit sample units. Nonzero when a burst of
 * ours has just been recognised (once per burst). */
int rsid_check(const double* samples);
/* The announced frequency (tone 7) of the last recognised burst, in Hz. */
double getrsfreq(void);
/* Prepares a burst announcing freq_hz. */
void rsid_encode(double freq_hz);
/* Writes the next 1920 samples (48000 Hz) of the prepared burst into block and returns
 * nonzero while the burst lasts; returns zero, writing nothing, once it is over. */
int rsid_get(short* block);

#ifdef __cplusplus
}
#endif

#endif
