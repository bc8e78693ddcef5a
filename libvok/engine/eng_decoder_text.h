/*
 * A text that the piecewise decoder (eng_decoder.cpp) reads as it comes:
 * the caller's, or the document that a server query's FPDATA holds, once
 * unescaped. It keeps the text from its next unread byte on, and reads from
 * it the pieces of XML that the whole-text reader reads (qe_xml_reader.h),
 * each once it holds the piece whole: a tag, an element, character data.
 * A comment or declaration, which may be long, is skipped as it comes.
 * Faults carry the line and column in the text, as the whole-text
 * decoder's do.
 */
#ifndef VOK_ENGINE_ENG_DECODER_TEXT_H
#define VOK_ENGINE_ENG_DECODER_TEXT_H

#include "query/qe_xml_reader.h"
#include "query/tb_buffer.h"
#include <vok/eng_frames.h>

ENG_BEGIN_DECLS

/* The most the decoder holds of one piece (a tag, an ALGORITHM or FP_BLOCK
 * element): a block of a fingerprint takes about 1 kB. */
#define ENG_LONGEST_PIECE ENG_DECODER_LONGEST_ELEMENT

/* A reference is at most twelve bytes: '&', ten characters, ';'. */
#define ENG_LONGEST_REFERENCE 12u

/* How a step on a text went. */
#define ENG_TEXT_READ  0u /* read, and the text advanced past it */
#define ENG_TEXT_MORE  1u /* the text does not hold it whole yet */
#define ENG_TEXT_FAULT 2u /* a fault, recorded */

typedef struct DecoderFault {
    ResultCode result; /* ENG_E_BAD_DOCUMENT or ENG_E_NO_MEMORY; ENG_OK until then */
    size_t offset;     /* where the fault lies in the text */
    char problem[256];
} DecoderFault;

typedef struct DecoderText {
    char *data; /* from the next unread byte on, or before it */
    size_t length;
    size_t capacity;
    size_t at;         /* the next unread byte of data */
    size_t base;       /* the offset in the whole text of data[0] */
    size_t line;       /* of data[at], from 1 */
    size_t line_start; /* the offset in the whole text where that line begins */
    /* A comment or declaration being skipped: its closing ("-->", "?>"),
     * and where it began, for the fault of one never closed. */
    const char *closing;
    size_t markup_offset;
    size_t markup_line;
    size_t markup_column;
    /* Text found beside the elements of a container: told once the run of
     * character data it stands in has been read (a fault in that run comes
     * first, whatever the chunks). */
    DecoderFault beside;
    uint8_t ended; /* the whole text has been given */
    uint8_t inner; /* the document in FPDATA: positions are told in it */
} DecoderText;

void eng_text_start(DecoderText *text, uint8_t inner);
void eng_text_release(DecoderText *text);

/* Appends bytes, first dropping what has been read. ENG_E_NO_MEMORY. */
ResultCode eng_text_append(DecoderText *text, const char *bytes, size_t count);

/* The unread text, *count bytes. */
const char *eng_text_rest(const DecoderText *text, size_t *count);
/* Marks count more bytes read. */
void eng_text_advance(DecoderText *text, size_t count);
/* The offset in the whole text of the unread byte `ahead` of the next. */
size_t eng_text_offset(const DecoderText *text, size_t ahead);

/* What the markup at the next byte ('<') is, once the text tells. */
#define ENG_MARKUP_MORE        0u
#define ENG_MARKUP_COMMENT     1u
#define ENG_MARKUP_DECLARATION 2u
#define ENG_MARKUP_END_TAG     3u
#define ENG_MARKUP_START_TAG   4u /* also markup the reader refuses ("<!DOCTYPE") */
uint32_t eng_text_markup(const DecoderText *text);

/* Whether the start tag at the next byte is named name: ENG_TAG_NAMED,
 * ENG_TAG_OTHER, or ENG_TAG_UNTOLD while the text does not tell. */
#define ENG_TAG_OTHER  0u
#define ENG_TAG_NAMED  1u
#define ENG_TAG_UNTOLD 2u
uint32_t eng_text_tag_named(const DecoderText *text, const char *name);

/* Skips white space; 1 when unread text remains. */
uint8_t eng_text_skip_space(DecoderText *text);

/* Records a fault of the XML at unread byte `ahead`: "line L, column C:
 * problem" (in FPDATA's document: "... of the document in FPDATA: ..."). */
void eng_text_fault(DecoderText *text, size_t ahead, const char *problem, DecoderFault *fault);
/* Records a fault that qe_xml_reader answered for the unread text. */
void eng_text_reader_fault(DecoderText *text, ResultCode result, const QeXmlFault *xml,
                           DecoderFault *fault);

/* At "<!--" or "<?", or in the middle of one: skips the comment or
 * declaration as far as the text holds it. */
uint32_t eng_text_skip_markup(DecoderText *text, DecoderFault *fault);

/* The start tag at the next byte, read once held whole (see
 * qe_read_start_tag). */
uint32_t eng_text_start_tag(DecoderText *text, uint32_t depth, QueryElement **element,
                            uint8_t *empty, DecoderFault *fault);
/* The whole element at the next byte (see qe_read_xml_at). */
uint32_t eng_text_element(DecoderText *text, uint32_t depth, QueryElement **element,
                          DecoderFault *fault);
/* The end tag at the next byte, which must close name. */
uint32_t eng_text_end_tag(DecoderText *text, const char *name, DecoderFault *fault);

/* Character data at the next byte, up to '<' and at most limit bytes of
 * text (a reference is not cut: a limit above ENG_LONGEST_REFERENCE always
 * reads some), appended to out; with whole, only once the text holds those
 * limit bytes, a '<' or its end. Inside a container (inside names it),
 * anything but white space is a fault, kept in text->beside until the run
 * of character data ends; null keeps any text. ENG_TEXT_MORE when there is none to read yet. */
uint32_t eng_text_characters(DecoderText *text, const char *inside, TextBuffer *out,
                             size_t limit, uint8_t whole, DecoderFault *fault);

ENG_END_DECLS

#endif /* VOK_ENGINE_ENG_DECODER_TEXT_H */
