#pragma once

#include "LimnoraMetadata.h"

#include <QList>
#include <QString>

#include <optional>

namespace limnoscope {

// Readers for other generators' metadata. Pure and total: any input gives a record or nothing,
// never a crash or a hang (texts of several MB, hostile JSON, cycles in graphs). Safe on any
// thread. Each reader takes every raw text of one image and answers only when it recognises
// its own format; the record it returns has `generator` set and `rawTexts` left empty (the
// caller fills it in).

// The A1111 family's infotext (A1111, Forge, reForge, SD.Next, Civitai): prompt, optional
// "Negative prompt:" part, last line of "Key: value" pairs.
[[nodiscard]] std::optional<LimnoraMetadata> readA1111Infotext(const QString& text);
// Whether `text` is plainly an A1111 infotext (it has a "Negative prompt:" part or a
// "CFG scale:" pair in its last line), so that it is read as one even where the Limnora
// parser would take it.
[[nodiscard]] bool looksLikeA1111Infotext(const QString& text);

// ComfyUI: the API graph ("prompt") and/or the editor graph ("workflow"), in PNG chunks or
// in EXIF tags with a "prompt:"/"workflow:" prefix or as {"prompt": ..., "workflow": ...}.
[[nodiscard]] std::optional<LimnoraMetadata> readComfyUI(const QList<RawText>& texts);

// SwarmUI (sui_image_params), InvokeAI (invokeai_metadata, sd-metadata, Dream), NovelAI
// (Comment JSON), Fooocus (parameters JSON with fooocus_scheme), Easy Diffusion (one chunk per
// setting).
[[nodiscard]] std::optional<LimnoraMetadata> readSwarmUI(const QList<RawText>& texts);
[[nodiscard]] std::optional<LimnoraMetadata> readInvokeAI(const QList<RawText>& texts);
[[nodiscard]] std::optional<LimnoraMetadata> readNovelAI(const QList<RawText>& texts);
[[nodiscard]] std::optional<LimnoraMetadata> readFooocus(const QList<RawText>& texts);
[[nodiscard]] std::optional<LimnoraMetadata> readEasyDiffusion(const QList<RawText>& texts);

// All of the above in a fixed order (the most specific formats first, the A1111 infotext of
// any text last): the first record any reader gives, or nothing.
[[nodiscard]] std::optional<LimnoraMetadata> readForeignMetadata(const QList<RawText>& texts);

} // namespace limnoscope
