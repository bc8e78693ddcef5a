/*
 * The streaming fingerprint's inner interface: its state, its variants and
 * the stages every frame and block goes through. Used by the family's own
 * files and by its tests; the registry sees only stream.h.
 *
 *   stage                        file                  entry
 *   state, variants, reset       strm_state.cpp        strm_create, strm_reset
 *   conversion, resampling       strm_input.cpp        strm_add_audio, strm_convert
 *   framing, frame analysis      strm_frame.cpp        strm_push_sample, strm_analyze_frame
 *   the same across lanes        strm_lanes*.cpp       strm_lanes_feed, strm_analyze_frames
 *   real transform, its tables   rfft.cpp, rfft_tables rfft_forward, rfft_size_tables
 *   quiet-frame words            strm_random.cpp       strm_random_next
 *   block encoding               strm_block.cpp, bw_*  strm_finish_block, bw_encode_words
 *   BASE64                       b64.cpp               b64_encode
 *   document                     strm_serialize.cpp    strm_serialize
 *   frames as numbers            strm_frames.cpp       strm_frames, strm_discard
 */
#ifndef VOK_ALGO_STREAM_STRM_INTERNAL_H
#define VOK_ALGO_STREAM_STRM_INTERNAL_H

#include "algo/stream/bw.h"
#include "algo/stream/rfft.h"
#include "algo/stream/stream.h"

ENG_BEGIN_DECLS

#define STRM_BLOCK_WORDS      256  /* sub-fingerprints per block */
#define STRM_BAND_COUNT       70   /* energy bands per frame */
#define STRM_FILTER_COUNT     32   /* difference-filter outputs = bits per word */
#define STRM_INPUT_RING       32   /* input samples kept for the resampling filter */
#define STRM_RATE_COUNT       8    /* rows of the input-rate table */
#define STRM_ENCODED_CAPACITY 4096 /* the largest block needs 2728 bytes */
#define STRM_RANDOM_WORDS     32
#define STRM_MAX_LANES        16     /* frames analysed together on the widest path */
#define STRM_ANALYSIS_RATE    5512.5 /* Hz: the resampled signal the frames are cut from */

/* How frames are analysed. Every path gives the same sub-fingerprints and
 * masks; the lane paths analyse several consecutive frames at once, one
 * frame per vector lane. */
typedef enum StreamPath {
    STRM_PATH_BEST = 0,   /* the widest path this build and processor run */
    STRM_PATH_SCALAR = 1, /* one frame at a time, portable */
    STRM_PATH_AVX2 = 2,   /* 8 frames across the lanes of AVX2 */
    STRM_PATH_AVX512 = 3  /* 16 frames across the lanes of AVX-512 (with VNNI) */
} StreamPath;

typedef struct StreamVariant {
    uint32_t id;
    int32_t block_length; /* seconds: 3 or 6 */
    int32_t frame_length; /* N */
    int32_t log2_frame;   /* log2 N */
    int32_t hop;          /* H */
    int32_t weak_bits;    /* W */
} StreamVariant;

/* The quiet-frame generator: 32 words of state, each new word the XOR of
 * six of them. A handle carries one; a decoder runs its own. */
typedef struct StreamRandom {
    uint32_t words[STRM_RANDOM_WORDS];
    int32_t index; /* 0 to 31 */
} StreamRandom;

/* Tells the quiet frames of a sequence of sub-fingerprints, one at a time,
 * by walking the generator alongside (see strm_mark_quiet). */
typedef struct StreamQuietMarker {
    StreamRandom generator;
    uint32_t expected; /* the word the next quiet frame holds */
    uint32_t second;   /* until the first quiet frame: the generator's second word */
    uint8_t started;   /* a quiet frame has been found */
} StreamQuietMarker;

/* A handle's frames as eng_stream_frames hands them out (strm_frames.cpp),
 * numbered from the handle's creation. */
typedef struct StreamFrameCache {
    uint32_t *words; /* owned, capacity entries each, apart */
    uint32_t *masks;
    uint8_t *quiet;
    size_t capacity;
    size_t count;   /* frames held: from frame `first` on */
    size_t settled; /* of them, frames of finished blocks */
    size_t first;   /* number of the first frame held; those before were discarded */
    uint32_t blocks;          /* finished blocks decoded into the cache */
    StreamQuietMarker marker; /* after the frames of those blocks */
} StreamFrameCache;

/* The kept mask nearest to frame i of a block (0 to 255), by its number
 * among the kept ones: i = 3k + 1 takes 3k, i = 3k + 2 takes 3k + 3. */
#define strm_nearest_kept_mask(i) (((i) + 1) / ENG_MASK_STRIDE)

typedef struct EncodedBlock {
    struct EncodedBlock *next;
    char *text;     /* owned, NUL-terminated BASE64 */
    int32_t length; /* of the text, NUL included */
} EncodedBlock;

/* Called with the encoded bytes when a block of 256 sub-fingerprints is
 * complete; the context is the state. */
typedef ResultCode (*StreamBlockHandler)(const uint8_t *encoded, void *context);

typedef struct StreamState {
    /* Block hand-off. */
    StreamBlockHandler block_handler; /* strm_block_done */
    void *block_context;              /* the state itself */

    /* Analysis parameters and buffers. */
    int32_t previous_exponent; /* previous frame exponent + 2; 0 after reset */
    int32_t frame_length;      /* N */
    int32_t log2_frame;
    int32_t hop;               /* H */
    const uint16_t *window;    /* borrowed, N/2 entries */
    const int16_t *band_edges; /* borrowed, STRM_BAND_COUNT + 1 entries */
    RealFft *fft;              /* owned */
    int32_t *scratch;          /* owned, N: transform input */
    int32_t previous_filter[STRM_FILTER_COUNT];
    int32_t input_ring[2 * STRM_INPUT_RING]; /* sample i at i and i + 32: the filter's
                                                16 taps are then one run */
    int32_t input_index;                     /* 0 to 31 */
    uint32_t phase;                          /* resampling phase */
    uint8_t ring_filled;
    uint8_t have_previous_frame;
    int32_t *frame_ring;   /* owned, N */
    int32_t ring_position; /* 0 to N - 1 */
    int32_t *frame;        /* owned, N; also holds the power spectrum */

    /* Current block. */
    uint32_t fingerprints[STRM_BLOCK_WORDS];
    uint32_t masks[STRM_BLOCK_WORDS];
    int32_t count;        /* entries filled, 0 to 255 */
    int32_t block_length; /* 3 or 6 */
    int32_t weak_bits;    /* W */
    StreamRandom random;  /* started at creation, never reset */
    BitWriter writer;
    uint8_t encoded[STRM_ENCODED_CAPACITY];
    int32_t encoded_length; /* bytes */

    /* Input format. */
    uint32_t sample_rate;
    uint32_t channels;
    SampleType sample_type;
    int32_t rate_index; /* row of the input-rate table */

    /* Output. */
    uint32_t algorithm_id;          /* 3, 4 or 5 */
    uint8_t ready;                  /* set once a block has been finished */
    uint32_t finished_blocks;       /* blocks finished since creation */
    uint32_t kept_blocks;           /* of them, kept in the list (others lost for memory) */
    uint32_t dropped_blocks;        /* of those, freed from the list's head after a discard */
    StreamFrameCache *frame_cache;  /* owned; made on the first request for frames */
    uint32_t bytes_per_frame;
    EncodedBlock *blocks;     /* in order of completion */
    EncodedBlock *last_block; /* tail of the list, for appending */
    const int16_t *alaw;      /* borrowed expansion tables */
    const int16_t *mulaw;

    /* Lane paths (strm_lanes.h): frames wait until a batch is full or the
     * add-audio call ends, so the lane ring keeps 2N samples, enough for
     * N + 15 H (4096 of 2048 + 960, 8192 of 4096 + 1920). */
    uint8_t path;            /* StreamPath, never STRM_PATH_BEST */
    int32_t lanes;           /* frames per batch: 8, 16; 0 on the scalar path */
    int32_t *lane_ring;      /* owned, 2N; null on the scalar path */
    int32_t lane_position;   /* 0 to 2N - 1: where the next sample goes */
    int32_t pending;         /* frames waiting, 0 to lanes - 1 between calls */
    int32_t pending_start;   /* lane ring index of the first waiting frame */
    uint32_t hop_spread[64]; /* per hop of the lane ring (2N / H = 64 hops):
                                OR of v XOR (v >> 1) over its samples */
    uint32_t spread_sum;     /* the same over the current hop so far */
    void *lane_block;        /* owned: lane ring, twiddles and buffers */
    int32_t *lane_twiddles;  /* the transform's stage twiddles t as
                                multiply-add operands, t & 0xFFFF */
    int32_t *lane_work;      /* 2 N x lanes values, 64-byte aligned */
} StreamState;

/* --- State and variants ----------------------------------------------------- */

/* A new variant record for id 3, 4 or 5 (released with eng_free). */
ResultCode strm_variant_params(uint32_t algorithm_id, StreamVariant **variant);
/* Clears the signal history and the current block; the generator and the
 * finished blocks stay. */
ResultCode strm_reset(StreamState *state);
/* The grid of a block length (3 or 6 s): seconds from one sub-fingerprint
 * to the next, H / 5512.5, and from the start of the input to the end of
 * the first kept one's analysis window, (N + H) / 5512.5 (the window before
 * it only primes the analysis). STRM_E_INVALID_ARG for another length or a
 * null pointer. */
ResultCode strm_grid(int32_t block_length, double *frame_seconds, double *first_offset_seconds);

/* --- Input conversion and resampling ----------------------------------------- */

/* Row of the input-rate table for a rate, or -1. */
int32_t strm_rate_index(uint32_t sample_rate);
/* Sample rate of a row (0 to STRM_RATE_COUNT - 1), and its eight distinct
 * filter coefficients c0 ... c7 (c7 weights the two middle taps). */
uint32_t strm_rate_of_row(int32_t row);
const int16_t *strm_fir_coefficients(int32_t row);
/* One mono sample per interleaved input frame, count frames. */
void strm_convert(const StreamState *state, const uint8_t *bytes, int32_t count, int32_t *out);
/* Resampling filter output at the current input ring index. */
int32_t strm_fir(const StreamState *state);

/* --- Frame analysis ---------------------------------------------------------- */

/* The framing step: takes one resampled sample, analyses a frame every H
 * samples once N have arrived, and finishes a block every 256 stored
 * sub-fingerprints. */
void strm_push_sample(StreamState *state, int32_t sample);
/* frame[k] = ring[(position + k) mod N], oldest sample first. */
void strm_copy_frame(StreamState *state);
/* Analyses the frame buffer: answers the sub-fingerprint, stores the mask.
 * Uses the transform scratch and overwrites the frame buffer. */
uint32_t strm_analyze_frame(StreamState *state, uint32_t *mask);
/* The steps after the band energies: difference filter, sub-fingerprint
 * bits, weak-bit mask and quiet-frame test (which normalises energies in
 * place and may draw from the generator). */
uint32_t strm_finish_frame(StreamState *state, int32_t *energies, int32_t exponent, uint32_t *mask);
/* Keeps an analysed frame's result: dropped for the first frame, else
 * stored in the current block, which is finished at 256 entries. */
void strm_store_frame(StreamState *state, uint32_t fingerprint, uint32_t mask);
/* Block-floating-point normalisation to target bits plus sign; answers the
 * left shift applied (negative: right shift). An all-zero array gives
 * target. */
int32_t strm_normalize(int32_t *values, int32_t count, int32_t target_bits);
/* The shift strm_normalize would apply, without applying it. */
int32_t strm_normalize_shift(const int32_t *values, int32_t count, int32_t target_bits);
void strm_apply_window(StreamState *state);
/* Power spectrum over the packed transform in the frame buffer:
 * N/2 + 1 values. */
void strm_power_spectrum(StreamState *state);
/* The 32 difference-filter outputs for frame exponent exponent; updates the
 * previous filter values and the previous exponent. */
void strm_difference_filter(StreamState *state, const int32_t *energies, int32_t exponent,
                            int32_t *outputs);
/* Bit 31 - k set for the W outputs of least magnitude (ties: lower k). */
uint32_t strm_weak_bit_mask(const int32_t *outputs, int32_t weak_bits);
/* 1 when the frame carries too little energy to keep its sub-fingerprint.
 * energies are normalised in place. */
uint8_t strm_is_quiet(int32_t *energies, int32_t log2_frame, int32_t exponent);

/* --- Quiet-frame generator ------------------------------------------------------ */

/* Sets the generator to its seed: the state every fingerprint starts from. */
void strm_random_start(StreamRandom *random);
/* The generator's next word. */
uint32_t strm_random_next(StreamRandom *random);
/* quiet[i] = 1 where words[i] (a fingerprint's sub-fingerprints, oldest
 * first) is the generator's next word, walking it alongside from its first
 * or, when the dropped first frame took that one, its second word. */
void strm_mark_quiet(const uint32_t *words, size_t count, uint8_t *quiet);
/* A marker at the start of a sequence; 1 when word, the sequence's next, is
 * a quiet frame. strm_mark_quiet is the same over a whole sequence. */
void strm_quiet_start(StreamQuietMarker *marker);
uint8_t strm_quiet_mark(StreamQuietMarker *marker, uint32_t word);

/* --- Frames as numbers (strm_frames.cpp) ------------------------------------- */

/* strm_frames and strm_discard (stream.h) serve eng_stream_frames and
 * eng_stream_discard; strm_frames answers STRM_E_NO_MEMORY also when a
 * block was lost for lack of memory. Releases the cache (strm_destroy). */
void strm_free_frames(StreamState *state);

/* --- Block encoding ---------------------------------------------------------- */

/* Encodes a block, 256 sub-fingerprints and its BW_KEPT_MASKS kept masks,
 * into bytes (room for STRM_ENCODED_CAPACITY) with the writer (its codes
 * set), and answers the byte count: what a handle finishes and what the
 * encoder of decoded frames writes. */
int32_t strm_encode_block(BitWriter *writer, const uint32_t *words, const uint32_t *kept,
                          uint8_t *bytes);
/* Encodes the current block into the encoded buffer and hands it to the
 * block handler. */
void strm_finish_block(StreamState *state);
/* The block handler: BASE64-encodes the encoded bytes, appends the block to
 * the list and sets the ready flag. A block whose node or text cannot be
 * allocated is dropped. Always 0. */
ResultCode strm_block_done(const uint8_t *encoded, void *context);

/* --- Serialisation ------------------------------------------------------------ */

ResultCode strm_build_blocks(const StreamState *state, QueryElement **blocks);
ResultCode strm_add_block_element(QueryElement *parent, const EncodedBlock *block, int32_t ordinal);
/* The document around the FP_BLOCKS element blocks, which it takes over on
 * success: the head, BLOCK_LENGTH (3 or 6) and FORMAT. */
ResultCode strm_build_query(int32_t block_length, QueryElement *blocks, QueryElement **root);

/* --- Constant tables ---------------------------------------------------------- */

/* The 71 band edges (quarter-bin units) for block length 3 or 6, or null. */
const int16_t *strm_band_edges(int32_t block_length);

ENG_END_DECLS

#endif /* VOK_ALGO_STREAM_STRM_INTERNAL_H */
