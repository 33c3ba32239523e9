// Placeholder until the stitching pipeline lands.
#include "stitchworker.h"

StitchWorker::StitchWorker(QObject *parent) : QObject(parent), maxDimension(32768) {}
StitchWorker::~StitchWorker() = default;
void StitchWorker::saveStitch(QStringList, int, QString, QString, QString, QString, int, int) {}
void StitchWorker::saveStitchImages(QList<QImage>, int, QString, QString, QString, int, QString, int, int) {}
