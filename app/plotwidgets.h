#ifndef PLOTWIDGETS_H
#define PLOTWIDGETS_H

#include <QWidget>

#include "imagemeasures.h"

/*
 * The line profile and the histogram as plots, painted with QPainter. They
 * paint what they were last given; the measuring is done elsewhere.
 */
class ProfilePlot : public QWidget
{
    Q_OBJECT

public:
    explicit ProfilePlot(QWidget *parent = nullptr);
    void setProfile(const LineProfile &profile);
    const LineProfile &profile() const { return m_profile; }
    QSize sizeHint() const override { return {400, 140}; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    LineProfile m_profile;
};

class HistogramPlot : public QWidget
{
    Q_OBJECT

public:
    explicit HistogramPlot(QWidget *parent = nullptr);
    void setHistogram(const ImageHistogram &histogram);
    const ImageHistogram &histogram() const { return m_histogram; }
    void setLogScale(bool on);
    QSize sizeHint() const override { return {400, 140}; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    ImageHistogram m_histogram;
    bool m_logScale = false;
};

// "Gray min 3 max 250 mean 121.4 saturated 0" per channel, one line each.
QString profileStatisticsText(const LineProfile &profile);
QString histogramStatisticsText(const ImageHistogram &histogram);

#endif // PLOTWIDGETS_H
