#pragma once

#include "PNGChunkWriter.h"

#include <QByteArray>
#include <QString>

namespace limnoscope::test {

// Writes `bytes` to `path`, creating missing parent folders. Fails the test on error.
void writeFile(const QString& path, const QByteArray& bytes);

// A small valid PNG (w x h, one colour) carrying a "Description" tEXt chunk before its pixels.
QByteArray pngWithDescription(const QByteArray& latin1Text, int width = 8, int height = 8);

// A realistic Limnora metadata text: prompt, "-" negative prompt line, settings line.
QString sampleLimnoraText(int seed = 1234);

// The project's source tree (where the sources and translations are), found from this file's path.
QString sourceTreeRoot();

} // namespace limnoscope::test

namespace limnoscope::test {

// Keeps the test's preferences in `folder`: the application is named after the test program and
// QSettings writes its user file there, never into the real configuration.
void usePreferencesIn(const QString& folder);

// Runs the installed exiftool with `arguments` (to write metadata into test files).
// Fails the test when it does not exit with status 0.
void runExiftool(const QStringList& arguments);

// A stand-in exiftool in the resources folder `resources` (see setResourcesDirectory): a shell
// script that shows how it was run and prints what it is told.
void installFakeExiftool(const QString& resources, const QByteArray& script);

// A stand-in's script with a part for each route (perl hands a "#!/bin/sh" script to sh); only
// the batch route passes "-json".
QByteArray fakeExiftool(const QByteArray& singleFile, const QByteArray& batch);

// An XMP packet whose rdf:Description holds `properties` (already-serialised XML elements).
QByteArray xmpPacket(const QByteArray& properties);

// Saves a `width` x `height` image of one colour in `format` ("JPEG", "PNG", "WEBP") at `path`.
void writeImage(const QString& path, const char* format, int width = 16, int height = 16);

} // namespace limnoscope::test
