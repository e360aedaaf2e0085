#pragma once

#include <QLabel>
#include <QMovie>
#include <QPixmap>
#include <QString>

class QTimer;

namespace Ui {

// A label that shows one icon of the built-in resources as a still picture, a
// numbered frame sequence or an animated picture (GIF). The owner picks the
// way with the frame count it passes to Init:
//   AnimatedPicture  the path as a movie
//   0                nothing
//   1                the path as a still picture
//   N                the frames 1..N of a pattern whose %1 stands for the
//                    frame number, each shown 1000 / N ms (one cycle <= 1 s)
// Frames are loaded when they are shown, not cached. A picture that cannot be
// loaded leaves the label empty. Main thread only.
class DynamicIcon : public QLabel
{
  Q_OBJECT

public:
  static constexpr unsigned int AnimatedPicture = 0xFFFFFFFFu;

  explicit DynamicIcon(QWidget* parent = nullptr);

  // Replaces whatever the label shows. A running animation or movie stops
  // first; a frame sequence starts again at frame 1.
  void Init(const QString& newPath, unsigned int frames);

  // What Init was last given (for the owners' tests and logs).
  const QString& Path() const { return path; }
  unsigned int Frames() const { return frameCount; }
  // The number of the frame on show in a frame sequence (1..N), else 0.
  unsigned int ShownFrame() const { return shownFrame; }

private slots:
  void LoadMovie();
  void LoadIcon();
  void LoadAnimation();

private:
  QString path;
  QPixmap picture;
  QMovie animation;
  QTimer* timer;
  unsigned int currentFrame = 1;
  unsigned int frameCount = 0;
  unsigned int shownFrame = 0;
};

} // namespace Ui
