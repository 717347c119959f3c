// Draws the program's skin, icons and animations. Run at build time, so the
// repository holds the drawing code rather than binary images:
//   nfx_make_artwork OUTPUT_FOLDER
// Still images are PNG; the three animations are looping GIFs, the format
// QMovie plays without extra plug-ins (Qt reads GIF but cannot write it, so
// the small encoder below does).
#include <QDir>
#include <QFile>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QtMath>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <unordered_map>
#include <vector>

namespace {

const QColor kBackground(37, 63, 115);
const QColor kOutline(14, 26, 54);
const QColor kPanel(252, 251, 239);
QString g_out;

QImage Canvas(int w, int h) {
  QImage img(w, h, QImage::Format_ARGB32_Premultiplied);
  img.fill(Qt::transparent);
  return img;
}

bool Save(const QImage& img, const QString& name) {
  const QString path = g_out + "/" + name;
  if (!img.save(path, "PNG")) {
    std::fprintf(stderr, "nfx_make_artwork: cannot write %s\n", qPrintable(path));
    return false;
  }
  return true;
}

QFont Font(int pixelSize, bool bold) {
  QFont f("Liberation Sans");
  f.setPixelSize(pixelSize);
  f.setBold(bold);
  return f;
}

// ---- GIF writer -----------------------------------------------------------

class BitWriter {
 public:
  explicit BitWriter(std::vector<uint8_t>& out) : out_(out) {}
  void Put(uint32_t code, int size) {
    acc_ |= code << bits_;
    bits_ += size;
    while (bits_ >= 8) {
      out_.push_back(static_cast<uint8_t>(acc_ & 0xFF));
      acc_ >>= 8;
      bits_ -= 8;
    }
  }
  void Flush() {
    if (bits_ > 0) out_.push_back(static_cast<uint8_t>(acc_ & 0xFF));
    acc_ = 0;
    bits_ = 0;
  }

 private:
  std::vector<uint8_t>& out_;
  uint32_t acc_ = 0;
  int bits_ = 0;
};

// Variable-length LZW as GIF89a section 22 and appendix F describe it.
std::vector<uint8_t> Lzw(const std::vector<uint8_t>& pixels) {
  constexpr int kMin = 8;
  constexpr uint32_t kClear = 1u << kMin, kEnd = kClear + 1;
  std::vector<uint8_t> out;
  BitWriter bw(out);
  std::unordered_map<uint32_t, uint32_t> table;
  int size = kMin + 1;
  uint32_t maxCode = kEnd;
  bw.Put(kClear, size);
  uint32_t prefix = pixels[0];
  for (size_t i = 1; i < pixels.size(); ++i) {
    const uint32_t key = (prefix << 8) | pixels[i];
    if (auto it = table.find(key); it != table.end()) {
      prefix = it->second;
      continue;
    }
    bw.Put(prefix, size);
    table[key] = ++maxCode;
    if (maxCode >= (1u << size)) ++size;
    if (maxCode == 4095) {
      bw.Put(kClear, size);
      table.clear();
      size = kMin + 1;
      maxCode = kEnd;
    }
    prefix = pixels[i];
  }
  bw.Put(prefix, size);
  bw.Put(kEnd, size);
  bw.Flush();
  return out;
}

void Le16(std::vector<uint8_t>& v, int x) {
  v.push_back(static_cast<uint8_t>(x & 0xFF));
  v.push_back(static_cast<uint8_t>((x >> 8) & 0xFF));
}

// Index 0 is transparent; the other 255 entries are the most frequent
// colours of all frames (at 5 bits a channel), every pixel mapped to the
// nearest of them.
bool SaveGif(const std::vector<QImage>& frames, int delayCs, const QString& name) {
  const int w = frames[0].width(), h = frames[0].height();
  std::unordered_map<uint32_t, int> counts;
  auto key5 = [](QRgb c) { return ((qRed(c) >> 3) << 10) | ((qGreen(c) >> 3) << 5) | (qBlue(c) >> 3); };
  std::vector<QImage> plain;
  for (const QImage& f : frames) plain.push_back(f.convertToFormat(QImage::Format_ARGB32));
  for (const QImage& f : plain)
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x)
        if (qAlpha(f.pixel(x, y)) >= 128) ++counts[key5(f.pixel(x, y))];
  std::vector<std::pair<int, uint32_t>> byCount;
  for (auto& [k, n] : counts) byCount.push_back({n, k});
  std::sort(byCount.rbegin(), byCount.rend());
  std::vector<QColor> palette(256, QColor(0, 0, 0));
  const int used = std::min<int>(255, static_cast<int>(byCount.size()));
  for (int i = 0; i < used; ++i) {
    const uint32_t k = byCount[i].second;
    palette[i + 1] = QColor(((k >> 10) & 31) * 255 / 31, ((k >> 5) & 31) * 255 / 31, (k & 31) * 255 / 31);
  }
  std::unordered_map<uint32_t, uint8_t> nearest;
  auto indexOf = [&](QRgb c) -> uint8_t {
    if (qAlpha(c) < 128) return 0;
    const uint32_t k = key5(c);
    if (auto it = nearest.find(k); it != nearest.end()) return it->second;
    int best = 1, bestD = INT32_MAX;
    for (int i = 1; i <= used; ++i) {
      const int dr = palette[i].red() - qRed(c), dg = palette[i].green() - qGreen(c),
                db = palette[i].blue() - qBlue(c);
      const int d = dr * dr + dg * dg + db * db;
      if (d < bestD) bestD = d, best = i;
    }
    nearest[k] = static_cast<uint8_t>(best);
    return static_cast<uint8_t>(best);
  };

  std::vector<uint8_t> g = {'G', 'I', 'F', '8', '9', 'a'};
  Le16(g, w);
  Le16(g, h);
  g.push_back(0xF7);  // global table of 2^(7+1) colours
  g.push_back(0);
  g.push_back(0);
  for (const QColor& c : palette) {
    g.push_back(static_cast<uint8_t>(c.red()));
    g.push_back(static_cast<uint8_t>(c.green()));
    g.push_back(static_cast<uint8_t>(c.blue()));
  }
  const char loop[] = "\x21\xFF\x0BNETSCAPE2.0\x03\x01\x00\x00\x00";
  g.insert(g.end(), loop, loop + 19);
  for (const QImage& f : plain) {
    // Graphic control: dispose to background (so transparent parts clear
    // between frames), transparent index 0.
    const uint8_t gce[] = {0x21, 0xF9, 0x04, 0x09};
    g.insert(g.end(), gce, gce + 4);
    Le16(g, delayCs);
    g.push_back(0);
    g.push_back(0);
    g.push_back(0x2C);
    Le16(g, 0);
    Le16(g, 0);
    Le16(g, w);
    Le16(g, h);
    g.push_back(0);
    std::vector<uint8_t> idx;
    idx.reserve(static_cast<size_t>(w) * h);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) idx.push_back(indexOf(f.pixel(x, y)));
    g.push_back(8);
    const std::vector<uint8_t> data = Lzw(idx);
    for (size_t i = 0; i < data.size(); i += 255) {
      const size_t n = std::min<size_t>(255, data.size() - i);
      g.push_back(static_cast<uint8_t>(n));
      g.insert(g.end(), data.begin() + static_cast<long>(i), data.begin() + static_cast<long>(i + n));
    }
    g.push_back(0);
  }
  g.push_back(0x3B);
  QFile file(g_out + "/" + name);
  if (!file.open(QIODevice::WriteOnly) ||
      file.write(reinterpret_cast<const char*>(g.data()), static_cast<qint64>(g.size())) !=
          static_cast<qint64>(g.size())) {
    std::fprintf(stderr, "nfx_make_artwork: cannot write %s\n", qPrintable(file.fileName()));
    return false;
  }
  return true;
}

// ---- frame ----------------------------------------------------------------

QLinearGradient TitleGradient(int height) {
  QLinearGradient g(0, 0, 0, height);
  g.setColorAt(0.0, QColor(118, 156, 218));
  g.setColorAt(0.08, QColor(86, 126, 196));
  g.setColorAt(0.55, QColor(48, 84, 152));
  g.setColorAt(1.0, QColor(31, 56, 106));
  return g;
}

bool Frame() {
  bool ok = true;
  QImage title = Canvas(8, 35);
  {
    QPainter p(&title);
    p.fillRect(title.rect(), TitleGradient(35));
    p.setPen(QColor(160, 190, 236));
    p.drawLine(0, 1, 7, 1);
    p.setPen(kOutline);
    p.drawLine(0, 0, 7, 0);
  }
  ok &= Save(title, "titlebar.png");

  // Sides: a dark outer line, then the window colour with a soft inner
  // highlight where the border meets the content.
  auto side = [](int w, int h, bool vertical, bool outerFirst) {
    QImage img = Canvas(w, h);
    QPainter p(&img);
    const int n = vertical ? w : h;
    for (int i = 0; i < n; ++i) {
      const int d = outerFirst ? i : n - 1 - i;  // distance from the outside
      QColor c = d == 0 ? kOutline : (d == n - 1 ? QColor(70, 102, 164) : kBackground.lighter(100 + 6 * d));
      p.setPen(c);
      if (vertical) p.drawLine(i, 0, i, h - 1);
      else p.drawLine(0, i, w - 1, i);
    }
    return img;
  };
  ok &= Save(side(5, 8, true, true), "side_left.png");
  ok &= Save(side(4, 8, true, false), "side_right.png");
  ok &= Save(side(8, 5, false, false), "side_bottom.png");

  // Corners follow the 15-pixel rounding of the window outline.
  for (int corner = 0; corner < 4; ++corner) {
    QImage img = Canvas(13, 13);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    const bool top = corner < 2, left = corner % 2 == 0;
    if (top) p.fillRect(img.rect(), TitleGradient(35));
    else p.fillRect(img.rect(), kBackground);
    QRectF ellipse(left ? 0.5 : -2.5, top ? 0.5 : -2.5, 15, 15);
    QPainterPath outside;
    outside.addRect(img.rect());
    QPainterPath inside;
    inside.addRoundedRect(QRectF(left ? 0.5 : -13.5, top ? 0.5 : -13.5, 26, 26), 7.5, 7.5);
    p.setPen(Qt::NoPen);
    p.setBrush(kOutline);
    p.drawPath(outside.subtracted(inside));
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(top ? QColor(160, 190, 236) : QColor(70, 102, 164), 1));
    p.drawPath(inside.translated(left ? 1 : -1, top ? 1 : -1).intersected(inside));
    (void)ellipse;
    static const char* names[] = {"corner_tl.png", "corner_tr.png", "corner_bl.png", "corner_br.png"};
    ok &= Save(img, names[corner]);
  }

  // Title-bar buttons: glassy squares with a white glyph, in normal, hot and
  // pressed states.
  for (int kind = 0; kind < 2; ++kind) {
    for (int state = 0; state < 3; ++state) {
      QImage img = Canvas(23, 23);
      QPainter p(&img);
      p.setRenderHint(QPainter::Antialiasing);
      QLinearGradient g(0, 0, 0, 23);
      const QColor base = kind == 0 ? QColor(196, 70, 52) : QColor(64, 98, 166);
      const QColor top = state == 1 ? base.lighter(150) : (state == 2 ? base.darker(130) : base.lighter(125));
      const QColor bottom = state == 2 ? base.darker(110) : base.darker(125);
      g.setColorAt(0, top);
      g.setColorAt(1, bottom);
      p.setBrush(g);
      p.setPen(QPen(kOutline, 1));
      p.drawRoundedRect(QRectF(0.5, 0.5, 22, 22), 4, 4);
      p.setPen(QPen(QColor(255, 255, 255, 90), 1));
      p.setBrush(Qt::NoBrush);
      p.drawRoundedRect(QRectF(1.5, 1.5, 20, 20), 3, 3);
      const qreal shift = state == 2 ? 1 : 0;
      p.setPen(QPen(Qt::white, 2.4, Qt::SolidLine, Qt::RoundCap));
      if (kind == 0) {
        p.drawLine(QPointF(7.5 + shift, 7.5 + shift), QPointF(15.5 + shift, 15.5 + shift));
        p.drawLine(QPointF(15.5 + shift, 7.5 + shift), QPointF(7.5 + shift, 15.5 + shift));
      } else {
        p.drawLine(QPointF(7 + shift, 15.5 + shift), QPointF(16 + shift, 15.5 + shift));
      }
      static const char* names[2][3] = {{"close.png", "close_hot.png", "close_down.png"},
                                        {"minimize.png", "minimize_hot.png", "minimize_down.png"}};
      ok &= Save(img, names[kind][state]);
    }
  }
  return ok;
}

// ---- icons ----------------------------------------------------------------

void Glyph(QPainter& p, const QRectF& r, const QString& text, const QColor& c, int px) {
  p.setFont(Font(px, true));
  p.setPen(c);
  p.drawText(r, Qt::AlignCenter, text);
}

QImage RoundIcon(int size, QColor a, QColor b, const QString& glyph, bool cross) {
  QImage img = Canvas(size, size);
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);
  p.setRenderHint(QPainter::TextAntialiasing);
  const qreal s = size;
  QRadialGradient g(s * 0.35, s * 0.3, s * 0.8);
  g.setColorAt(0, a);
  g.setColorAt(1, b);
  p.setBrush(g);
  p.setPen(QPen(b.darker(160), s / 20.0));
  p.drawEllipse(QRectF(s * 0.05, s * 0.05, s * 0.9, s * 0.9));
  if (cross) {
    p.setPen(QPen(Qt::white, s * 0.13, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(s * 0.33, s * 0.33), QPointF(s * 0.67, s * 0.67));
    p.drawLine(QPointF(s * 0.67, s * 0.33), QPointF(s * 0.33, s * 0.67));
  } else {
    Glyph(p, QRectF(0, 0, s, s * 0.98), glyph, Qt::white, static_cast<int>(s * 0.7));
  }
  return img;
}

QImage CautionIcon(int size) {
  QImage img = Canvas(size, size);
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);
  const qreal s = size;
  QPainterPath tri;
  tri.moveTo(s * 0.5, s * 0.06);
  tri.lineTo(s * 0.96, s * 0.9);
  tri.lineTo(s * 0.04, s * 0.9);
  tri.closeSubpath();
  QLinearGradient g(0, 0, 0, s);
  g.setColorAt(0, QColor(255, 226, 92));
  g.setColorAt(1, QColor(232, 168, 20));
  p.setBrush(g);
  p.setPen(QPen(QColor(120, 80, 0), s / 18.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  p.drawPath(tri);
  Glyph(p, QRectF(0, s * 0.2, s, s * 0.72), "!", QColor(40, 30, 0), static_cast<int>(s * 0.62));
  return img;
}

bool Icons() {
  bool ok = true;
  for (int size : {20, 32}) {
    const QString suffix = size == 20 ? ".png" : "_32.png";
    ok &= Save(RoundIcon(size, QColor(120, 178, 255), QColor(28, 90, 196), "i", false), "icon_info" + suffix);
    ok &= Save(CautionIcon(size), "icon_caution" + suffix);
    ok &= Save(RoundIcon(size, QColor(255, 120, 100), QColor(180, 24, 16), "", true), "icon_error" + suffix);
    ok &= Save(RoundIcon(size, QColor(130, 214, 150), QColor(24, 130, 64), "?", false), "icon_question" + suffix);
  }
  return ok;
}

// A drive case seen slightly from above; the feature pictures add to it.
void DrawDrive(QPainter& p, qreal s) {
  QLinearGradient g(0, s * 0.3, 0, s * 0.8);
  g.setColorAt(0, QColor(214, 220, 230));
  g.setColorAt(1, QColor(140, 150, 168));
  p.setBrush(g);
  p.setPen(QPen(QColor(60, 68, 84), s / 40.0));
  p.drawRoundedRect(QRectF(s * 0.08, s * 0.42, s * 0.84, s * 0.38), s * 0.06, s * 0.06);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(80, 220, 110));
  p.drawEllipse(QRectF(s * 0.76, s * 0.66, s * 0.07, s * 0.07));
  p.setBrush(QColor(90, 98, 114));
  for (int i = 0; i < 5; ++i) p.drawRect(QRectF(s * (0.16 + i * 0.07), s * 0.66, s * 0.035, s * 0.08));
}

QImage Feature(int kind, int size, bool hot) {
  QImage img = Canvas(size, size);
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);
  const qreal s = size;
  if (kind <= 2) DrawDrive(p, s);
  if (kind == 0) {  // wipe: a sweep leaving the drive blank
    QPainterPath sweep;
    sweep.moveTo(s * 0.12, s * 0.34);
    sweep.cubicTo(s * 0.35, s * 0.02, s * 0.7, s * 0.05, s * 0.9, s * 0.3);
    p.setPen(QPen(QColor(210, 50, 36), s * 0.09, Qt::SolidLine, Qt::RoundCap));
    p.setBrush(Qt::NoBrush);
    p.drawPath(sweep);
    QPainterPath head;
    head.moveTo(s * 0.98, s * 0.38);
    head.lineTo(s * 0.76, s * 0.36);
    head.lineTo(s * 0.92, s * 0.18);
    head.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(210, 50, 36));
    p.drawPath(head);
  } else if (kind == 1) {  // verify: a tick
    p.setPen(QPen(QColor(255, 255, 255), s * 0.16, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    QPainterPath tick;
    tick.moveTo(s * 0.3, s * 0.24);
    tick.lineTo(s * 0.46, s * 0.4);
    tick.lineTo(s * 0.8, s * 0.04);
    p.drawPath(tick);
    p.setPen(QPen(QColor(30, 150, 60), s * 0.1, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPath(tick);
  } else if (kind == 2) {  // sectors: a magnifier over hex digits
    p.setFont(Font(static_cast<int>(s * 0.16), true));
    p.setPen(QColor(30, 60, 120));
    p.drawText(QRectF(s * 0.02, s * 0.02, s * 0.7, s * 0.2), Qt::AlignLeft, "0F A5");
    p.drawText(QRectF(s * 0.02, s * 0.2, s * 0.7, s * 0.2), Qt::AlignLeft, "E6 00");
    p.setBrush(QColor(190, 225, 255, 150));
    p.setPen(QPen(QColor(40, 48, 64), s * 0.06));
    p.drawEllipse(QRectF(s * 0.48, s * 0.04, s * 0.34, s * 0.34));
    p.setPen(QPen(QColor(40, 48, 64), s * 0.1, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(s * 0.78, s * 0.34), QPointF(s * 0.94, s * 0.5));
  } else if (kind == 3) {  // tools: a gear
    QPainterPath gear;
    const QPointF c(s / 2, s / 2);
    const int teeth = 8;
    for (int i = 0; i < teeth * 2; ++i) {
      const qreal a0 = (i - 0.5) * M_PI / teeth, a1 = (i + 0.5) * M_PI / teeth;
      const qreal r = (i % 2 == 0) ? s * 0.46 : s * 0.36;
      const QPointF p0 = c + QPointF(std::cos(a0) * r, std::sin(a0) * r);
      const QPointF p1 = c + QPointF(std::cos(a1) * r, std::sin(a1) * r);
      if (i == 0) gear.moveTo(p0);
      else gear.lineTo(p0);
      gear.lineTo(p1);
    }
    gear.closeSubpath();
    QPainterPath hole;
    hole.addEllipse(c, s * 0.14, s * 0.14);
    QLinearGradient g(0, 0, 0, s);
    g.setColorAt(0, QColor(236, 240, 248));
    g.setColorAt(1, QColor(150, 162, 184));
    p.setBrush(g);
    p.setPen(QPen(QColor(50, 60, 80), s / 28.0));
    p.drawPath(gear.subtracted(hole));
  } else if (kind == 4) {  // help
    QImage q = RoundIcon(size, QColor(120, 178, 255), QColor(28, 90, 196), "?", false);
    p.drawImage(0, 0, q);
  }
  p.end();
  if (hot) {
    // Hot state: brighter, as image buttons light up under the mouse.
    for (int y = 0; y < img.height(); ++y)
      for (int x = 0; x < img.width(); ++x) {
        const QColor c = QColor::fromRgba(img.pixel(x, y));
        if (c.alpha() == 0) continue;
        img.setPixelColor(x, y, QColor(std::min(255, c.red() + 40), std::min(255, c.green() + 40),
                                       std::min(255, c.blue() + 40), c.alpha()));
      }
  }
  return img;
}

QImage ProgramIcon(int size) {
  QImage img = Canvas(size, size);
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);
  const qreal s = size;
  QLinearGradient g(0, 0, 0, s);
  g.setColorAt(0, QColor(70, 110, 182));
  g.setColorAt(1, QColor(24, 44, 88));
  p.setBrush(g);
  p.setPen(QPen(kOutline, s / 40.0));
  p.drawRoundedRect(QRectF(s * 0.04, s * 0.04, s * 0.92, s * 0.92), s * 0.18, s * 0.18);
  // A platter, crossed out: the drive emptied.
  QRadialGradient disc(s * 0.42, s * 0.4, s * 0.4);
  disc.setColorAt(0, QColor(255, 255, 250));
  disc.setColorAt(1, QColor(196, 204, 216));
  p.setBrush(disc);
  p.setPen(QPen(QColor(30, 40, 60), s / 48.0));
  p.drawEllipse(QPointF(s / 2, s / 2), s * 0.3, s * 0.3);
  p.setBrush(QColor(60, 74, 100));
  p.drawEllipse(QPointF(s / 2, s / 2), s * 0.06, s * 0.06);
  p.setPen(QPen(QColor(220, 56, 40), s * 0.09, Qt::SolidLine, Qt::RoundCap));
  p.drawLine(QPointF(s * 0.26, s * 0.74), QPointF(s * 0.74, s * 0.26));
  return img;
}

QImage Banner(int w, int h) {
  QImage img = Canvas(w, h);
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);
  p.setRenderHint(QPainter::TextAntialiasing);
  QLinearGradient g(0, 0, w, 0);
  g.setColorAt(0, QColor(236, 233, 206));
  g.setColorAt(1, kPanel);
  p.fillRect(img.rect(), g);
  p.setPen(QColor(200, 196, 160));
  p.drawLine(0, h - 1, w, h - 1);
  p.drawImage(QRect(14, (h - 48) / 2, 48, 48), ProgramIcon(96));
  p.setFont(Font(28, true));
  p.setPen(QColor(37, 63, 115));
  p.drawText(QRect(74, 6, w - 80, 34), Qt::AlignLeft | Qt::AlignVCenter, "Nullifex");
  p.setFont(Font(12, false));
  p.setPen(QColor(90, 96, 110));
  p.drawText(QRect(76, 38, w - 80, 18), Qt::AlignLeft | Qt::AlignVCenter,
             "Secure wiping and verification of removable media");
  return img;
}

// ---- animations -------------------------------------------------------------

// 129: a globe turning while the version file is fetched.
std::vector<QImage> Globe(int frames) {
  std::vector<QImage> out;
  for (int f = 0; f < frames; ++f) {
    QImage img = Canvas(70, 70);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    const QPointF c(35, 35);
    const qreal r = 28;
    QRadialGradient g(26, 24, 40);
    g.setColorAt(0, QColor(150, 200, 255));
    g.setColorAt(1, QColor(24, 70, 150));
    p.setBrush(g);
    p.setPen(QPen(QColor(14, 40, 90), 1.5));
    p.drawEllipse(c, r, r);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(230, 240, 255, 170), 1.2));
    for (int lat = -2; lat <= 2; ++lat) {
      const qreal y = c.y() + lat * r / 3;
      const qreal half = std::sqrt(std::max(0.0, r * r - (y - c.y()) * (y - c.y())));
      p.drawLine(QPointF(c.x() - half, y), QPointF(c.x() + half, y));
    }
    for (int m = 0; m < 6; ++m) {
      const qreal phase = (m * M_PI / 6) + f * (M_PI / 6) / (frames / 2.0);
      const qreal rx = std::fabs(std::cos(phase)) * r;
      if (std::sin(phase) < 0) continue;  // meridians on the far side
      p.drawEllipse(c, rx, r);
    }
    // A sweep of light marks activity.
    const qreal a = f * 360.0 / frames;
    QConicalGradient cg(c, -a);
    cg.setColorAt(0, QColor(255, 255, 255, 110));
    cg.setColorAt(0.15, QColor(255, 255, 255, 0));
    cg.setColorAt(1, QColor(255, 255, 255, 0));
    p.setBrush(cg);
    p.setPen(Qt::NoPen);
    p.drawEllipse(c, r, r);
    out.push_back(img);
  }
  return out;
}

// 131: a platter spinning under a head that leaves it blank behind it.
std::vector<QImage> WipeDisc(int frames) {
  std::vector<QImage> out;
  for (int f = 0; f < frames; ++f) {
    QImage img = Canvas(70, 70);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    const QPointF c(33, 37);
    const qreal r = 28;
    QRadialGradient disc(26, 28, 40);
    disc.setColorAt(0, QColor(250, 250, 246));
    disc.setColorAt(1, QColor(176, 186, 202));
    p.setBrush(disc);
    p.setPen(QPen(QColor(40, 52, 76), 1.5));
    p.drawEllipse(c, r, r);
    // Data tracks: dashes that rotate with the platter; the ones the head
    // has passed in this turn are gone.
    const qreal turn = 360.0 * f / frames;
    for (int track = 0; track < 4; ++track) {
      const qreal tr = 10 + track * 4.5;
      p.setPen(QPen(QColor(60, 90, 150), 2.2, Qt::SolidLine, Qt::FlatCap));
      for (int d = 0; d < 12; ++d) {
        const qreal start = d * 30 + (track % 2) * 12 - turn;
        qreal rel = std::fmod(-start + 720.0, 360.0);
        if (rel < turn) continue;
        p.drawArc(QRectF(c.x() - tr, c.y() - tr, 2 * tr, 2 * tr), static_cast<int>(start * 16), 14 * 16);
      }
    }
    p.setPen(QPen(QColor(40, 52, 76), 1));
    p.setBrush(QColor(70, 84, 110));
    p.drawEllipse(c, 5, 5);
    // The head arm, rocking across the tracks.
    const qreal swing = std::sin(2 * M_PI * f / frames) * 9;
    const QPointF pivot(63, 8);
    const qreal ang = qDegreesToRadians(128 + swing);
    const QPointF tip = pivot + QPointF(std::cos(ang) * 40, std::sin(ang) * 40);
    p.setPen(QPen(QColor(120, 128, 140), 4, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(pivot, tip);
    p.setPen(QPen(QColor(210, 50, 36), 3, Qt::SolidLine, Qt::RoundCap));
    p.drawPoint(tip);
    p.setBrush(QColor(90, 98, 114));
    p.setPen(QPen(QColor(40, 52, 76), 1));
    p.drawEllipse(pivot, 4.5, 4.5);
    out.push_back(img);
  }
  return out;
}

// 132: a magnifier passing over sectors, each turning green once checked.
std::vector<QImage> Scan(int frames) {
  std::vector<QImage> out;
  const int cols = 6, rows = 6, cell = 9, x0 = 8, y0 = 8;
  for (int f = 0; f < frames; ++f) {
    QImage img = Canvas(70, 70);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    const int checked = f * cols * rows / frames;
    for (int i = 0; i < cols * rows; ++i) {
      const QRectF rc(x0 + (i % cols) * cell, y0 + (i / cols) * cell, cell - 2, cell - 2);
      p.setPen(QPen(QColor(40, 52, 76), 0.8));
      p.setBrush(i < checked ? QColor(90, 196, 110) : QColor(200, 208, 222));
      p.drawRect(rc);
    }
    const int cur = std::min(checked, cols * rows - 1);
    const QPointF lens(x0 + (cur % cols) * cell + 3.5, y0 + (cur / cols) * cell + 3.5);
    p.setBrush(QColor(200, 230, 255, 110));
    p.setPen(QPen(QColor(30, 36, 50), 2.5));
    p.drawEllipse(lens, 8, 8);
    p.setPen(QPen(QColor(30, 36, 50), 4, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(lens + QPointF(6, 6), lens + QPointF(14, 14));
    out.push_back(img);
  }
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: nfx_make_artwork OUTPUT_FOLDER\n");
    return 2;
  }
  // Fonts need a GUI application; no display is needed to draw into images.
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  g_out = QString::fromLocal8Bit(argv[1]);
  if (!QDir().mkpath(g_out)) {
    std::fprintf(stderr, "nfx_make_artwork: cannot create %s\n", argv[1]);
    return 1;
  }
  bool ok = Frame() && Icons();
  static const char* features[] = {"wipe", "verify", "sectors", "tools", "help"};
  for (int k = 0; k < 5; ++k) {
    const int size = k < 3 ? 48 : 32;
    ok &= Save(Feature(k, size, false), QString("%1.png").arg(features[k]));
    ok &= Save(Feature(k, size, true), QString("%1_hot.png").arg(features[k]));
  }
  for (int size : {48, 128, 256}) ok &= Save(ProgramIcon(size), QString("nullifex_%1.png").arg(size));
  ok &= Save(Banner(418, 64), "banner.png");
  ok &= SaveGif(Globe(26), 7, "anim129.gif");
  ok &= SaveGif(WipeDisc(24), 6, "anim131.gif");
  ok &= SaveGif(Scan(41), 6, "anim132.gif");
  return ok ? 0 : 1;
}
