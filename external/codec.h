/* The speech codec library: 320 samples at 8000 Hz (40 ms) to 54 voice bits and back.
 * Bits travel one per byte, in transmission order, in bit 0 of each byte (higher bits are
 * ignored by decode). The encoder and the decoder are each one continuous stream: initialise
 * once, then they keep their state from frame to frame. */
#ifndef TARPO_EXTERNAL_CODEC_H
#define TARPO_EXTERNAL_CODEC_H

#ifdef __cplusplus
extern "C" {
#endif

void ana_init(void);
void syn_init(void);
/* speech: 320 samples at 8000 Hz; bits: at least 54 bytes, bytes 0..53 are written. */
void encode(const short* speech, unsigned char* bits);
/* bits: 54 bytes, each 0 or 1 (two zero bytes may follow); speech: 320 samples written. */
void decode(const unsigned char* bits, short* speech);
/* The same frame as 54 log-likelihood ratios, log P(bit = 1) / P(bit = 0), in transmission
 * order: positive means 1, the magnitude how sure (a hard bit b is the ratio (2b - 1) x a
 * large number). NaN and infinite ratios count as no information. On the same decoder stream
 * as decode; the two may alternate. Returns 1 when the frame was mostly noise and concealed
 * (the last good speech played on, fading), else 0. */
int decode_soft(const float* llr, short* speech);

#ifdef __cplusplus
}
#endif

#endif
