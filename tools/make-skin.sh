#!/usr/bin/env bash
# Draws the default skin into resources/ with ImageMagick 6 (Debian's imagemagick) and the
# WenQuanYi Micro Hei font (fonts-wqy-microhei). The images are committed; run this again
# only to change the look, then look at the results before committing them.
#
# Palette: sky blue (#005CB2 text, #2F86D6 accents, #EAF4FD panels) with an orange call to
# action (#FF9A2E..#EE6A0C) that carries white text. Button strips hold their frames side by
# side: normal, hover, pressed.
#
# Sections: helpers; frame buttons; text-button frames; check boxes; progress pair;
# small pictures (logo, character, captions); backgrounds; carousel pictures; program icon.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
out=$top/resources
mkdir -p "$out/res" "$out/pics"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

font=/usr/share/fonts/truetype/wqy/wqy-microhei.ttc
[ -f "$font" ] || { echo "make-skin: $font missing (apt-get install fonts-wqy-microhei)" >&2; exit 1; }
command -v convert >/dev/null || { echo "make-skin: convert missing (apt-get install imagemagick)" >&2; exit 1; }

# Same input, same bytes: no time stamps or other metadata in the files.
png_opts=(-strip -define png:exclude-chunks=date,time,tIME -define png:compression-level=9)
jpg_opts=(-strip -interlace none -sampling-factor 2x2 -quality 86)

savepng() { # savepng <in> <out>: 32-bit RGBA PNG
  convert "$1" "${png_opts[@]}" "PNG32:$2"
}

# rounded <w> <h> <radius> <top colour> <bottom colour> <border colour> <out> [gloss alpha]
# A vertically graded rounded rectangle with a 1-pixel border, transparent outside.
rounded() {
  local w=$1 h=$2 r=$3 c1=$4 c2=$5 border=$6 dst=$7 gloss=${8:-0}
  convert -size "${w}x${h}" "gradient:${c1}-${c2}" \
    \( -size "${w}x${h}" xc:black -fill white -draw "roundrectangle 0,0 $((w - 1)),$((h - 1)) $r,$r" \) \
    -alpha off -compose CopyOpacity -composite -compose Over \
    \( -size "${w}x${h}" xc:none -fill "rgba(255,255,255,$gloss)" \
       -draw "roundrectangle 1,1 $((w - 2)),$((h / 2)) $((r - 1)),$((r - 1))" \) -composite \
    -fill none -stroke "$border" -strokewidth 1 \
    -draw "roundrectangle 0.5,0.5 $((w - 1)).5,$((h - 1)).5 $r,$r" "$dst"
}

# ---- frame buttons: minimise 3 x 32x19, close 3 x 39x19, maximise 4 x 28x27 (unused) ----
# Each sits in the window's top edge: the glyph alone on the sky, a tab with rounded lower
# corners behind it on hover and press.
tab() { # tab <w> <h> <fill> <out>
  convert -size "$1x$2" xc:none -fill "$3" \
    -draw "roundrectangle 0,-6 $(($1 - 1)),$(($2 - 1)) 5,5" "$4"
}
glyph_min() { # glyph_min <w> <h> <colour> <in/out>
  local x0=$((($1 - 10) / 2))
  convert "$4" -fill "$3" -draw "rectangle $x0,10 $((x0 + 9)),11" "$4"
}
glyph_close() {
  local cx=$(($1 / 2)) cy=$((($2 - 1) / 2))
  convert "$4" -stroke "$3" -strokewidth 1.8 -fill none \
    -draw "line $((cx - 4)),$((cy - 4)) $((cx + 4)),$((cy + 4))" \
    -draw "line $((cx + 4)),$((cy - 4)) $((cx - 4)),$((cy + 4))" "$4"
}
glyph_max() {
  local x0=$((($1 - 11) / 2)) y0=$((($2 - 10) / 2))
  convert "$4" -stroke "$3" -strokewidth 1.4 -fill none \
    -draw "rectangle $x0.5,$y0.5 $((x0 + 10)).5,$((y0 + 9)).5" \
    -draw "line $x0.5,$((y0 + 1)).5 $((x0 + 10)).5,$((y0 + 1)).5" "$4"
}
frame_strip() { # frame_strip <glyph> <w> <h> <hover tab> <pressed tab> <out> [extra frame]
  local g=$1 w=$2 h=$3
  convert -size "${w}x${h}" xc:none "$work/f0.png"; "glyph_$g" "$w" "$h" '#3D6A93' "$work/f0.png"
  tab "$w" "$h" "$4" "$work/f1.png"; "glyph_$g" "$w" "$h" '#FFFFFF' "$work/f1.png"
  tab "$w" "$h" "$5" "$work/f2.png"; "glyph_$g" "$w" "$h" '#FFFFFF' "$work/f2.png"
  local frames=("$work/f0.png" "$work/f1.png" "$work/f2.png")
  if [ -n "${7:-}" ]; then
    convert -size "${w}x${h}" xc:none "$work/f3.png"; "glyph_$g" "$w" "$h" '#A9BCCD' "$work/f3.png"
    frames+=("$work/f3.png")
  fi
  convert "${frames[@]}" +append "$work/strip.png"
  savepng "$work/strip.png" "$6"
}
frame_strip min 32 19 '#4A9BE0' '#2273C2' "$out/res/btmin.png"
frame_strip close 39 19 '#E5534B' '#BF3A33' "$out/res/btclose.png"
frame_strip max 28 27 '#4A9BE0' '#2273C2' "$out/res/btmax.png" disabled

# ---- text-button frames (nine-grid; the program draws the text) ----
# "res/btn.png": 3 x 89x30 light buttons for blue text; the pressed face is darker and flat.
rounded 89 30 5 '#FFFFFF' '#E3EEF8' '#9DBCD8' "$work/b0.png" 0.5
rounded 89 30 5 '#F4FAFF' '#D4E8FA' '#4A9BE0' "$work/b1.png" 0.6
rounded 89 30 5 '#CFE3F6' '#E2EEF9' '#2273C2' "$work/b2.png" 0
convert "$work/b0.png" "$work/b1.png" "$work/b2.png" +append "$work/btn.png"
savepng "$work/btn.png" "$out/res/btn.png"

# "res/btnOneKeyInstall.png": 3 x 177x43 orange buttons for large white text.
rounded 177 43 9 '#FF9A2E' '#EE6A0C' '#C9570A' "$work/o0.png" 0.22
rounded 177 43 9 '#FFAE4A' '#F77F1C' '#D2600C' "$work/o1.png" 0.28
rounded 177 43 9 '#DE5E08' '#F08424' '#B04A06' "$work/o2.png" 0.06
convert "$work/o0.png" "$work/o1.png" "$work/o2.png" +append "$work/onekey.png"
savepng "$work/onekey.png" "$out/res/btnOneKeyInstall.png"

# "res/oneKeyShadow.png": the soft shadow under the one-key button (177x43).
convert -size 177x43 xc:none -fill 'rgba(24,60,110,0.42)' -draw "ellipse 88,2 78,7 0,360" \
  -channel A -blur 0x4 +channel "$work/shadow.png"
savepng "$work/shadow.png" "$out/res/oneKeyShadow.png"

# "res/btnCustomInstall.png": 2 x 87x15 text link, normal and hover (underlined, orange).
link_frame() { # link_frame <colour> <underline 0|1> <out>
  convert -size 87x15 xc:none -font "$font" -pointsize 12 -fill "$1" -gravity east \
    -annotate +4-1 '自定义安装 ›' "$work/l.png"
  if [ "$2" = 1 ]; then
    convert "$work/l.png" -gravity none -fill "$1" -draw "rectangle 15,13 82,13" "$work/l.png"
  fi
  cp "$work/l.png" "$3"
}
link_frame '#2273C2' 0 "$work/c0.png"
link_frame '#EE6A0C' 1 "$work/c1.png"
convert "$work/c0.png" "$work/c1.png" +append "$work/custom.png"
savepng "$work/custom.png" "$out/res/btnCustomInstall.png"

# ---- check boxes: 3 x 14x14 (normal, hover, pressed), unchecked and checked ----
box() { # box <fill> <border> <tick colour or none> <out>
  convert -size 14x14 xc:none -fill "$1" -stroke "$2" -strokewidth 1 \
    -draw "roundrectangle 0.5,0.5 12.5,12.5 2.5,2.5" "$work/k.png"
  if [ "$3" != none ]; then
    convert "$work/k.png" -fill none -stroke "$3" -strokewidth 1.8 \
      -draw "polyline 3.2,6.8 5.6,9.3 10.2,3.9" "$work/k.png"
  fi
  cp "$work/k.png" "$4"
}
box '#FFFFFF' '#9DB0C3' none "$work/u0.png"
box '#F2F8FE' '#2F86D6' none "$work/u1.png"
box '#D6E8F8' '#2273C2' none "$work/u2.png"
convert "$work/u0.png" "$work/u1.png" "$work/u2.png" +append "$work/check1.png"
savepng "$work/check1.png" "$out/res/check1.png"
box '#2F86D6' '#2273C2' '#FFFFFF' "$work/v0.png"
box '#4A9BE6' '#2F86D6' '#FFFFFF' "$work/v1.png"
box '#1F68B0' '#17528C' '#E6F1FB' "$work/v2.png"
convert "$work/v0.png" "$work/v1.png" "$work/v2.png" +append "$work/check2.png"
savepng "$work/check2.png" "$out/res/check2.png"

# ---- progress pair: 577x29, a 12-pixel bar in the middle; the bar is revealed from the left ----
convert -size 577x29 xc:none -fill 'rgba(8,22,40,0.55)' -stroke 'rgba(255,255,255,0.55)' \
  -strokewidth 1 -draw "roundrectangle 0.5,8.5 576.5,20.5 6,6" "$work/pbg.png"
savepng "$work/pbg.png" "$out/res/progressBg.png"
convert -size 577x12 gradient:'#FFD36A-#F5861C' \
  \( -size 577x12 xc:none -fill 'rgba(255,255,255,0.16)' \
     -draw "$(for ((x = -12; x < 577; x += 16)); do printf 'polygon %d,0 %d,0 %d,12 %d,12 ' $x $((x + 8)) $((x + 2)) $((x - 6)); done)" \) \
  -composite \( -size 577x12 xc:black -fill white -draw "roundrectangle 1,1 575,10 5,5" \) \
  -alpha off -compose CopyOpacity -composite -compose Over \
  -background none -gravity north -extent 577x21 -gravity south -extent 577x29 "$work/pbar.png"
convert "$work/pbar.png" -page +0+0 -fill 'rgba(255,255,255,0.45)' -draw "line 6,10 570,10" "$work/pbar.png"
savepng "$work/pbar.png" "$out/res/progress.png"

# ---- small pictures ----
# "LOGO" 93x56: a shield with a star and the game's name under it.
convert -size 93x56 xc:none \
  -fill '#2273C2' -stroke '#0E4C8C' -strokewidth 1.5 \
  -draw "path 'M 46,2 L 64,8 L 64,22 C 64,31 56,37 46,41 C 36,37 28,31 28,22 L 28,8 Z'" \
  -fill '#FFB13B' -stroke none \
  -draw "polygon 46,10 49,18 57,18 51,23 53,31 46,26 39,31 41,23 35,18 43,18" \
  -font DejaVu-Sans-Bold -pointsize 15 -fill '#0E4C8C' -stroke 'rgba(255,255,255,0.9)' -strokewidth 3 \
  -gravity south -annotate +0+0 'VANTOR' -stroke none -fill '#0E4C8C' -annotate +0+0 'VANTOR' \
  "$work/logo.png"
savepng "$work/logo.png" "$out/pics/logo.png"

# "QxCharacter" 165x193: the mascot, a round sky spirit with a leaf sprout and a satchel.
convert -size 165x193 xc:none \
  -fill 'rgba(20,60,110,0.22)' -draw "ellipse 82,184 52,7 0,360" \
  -fill '#2F86D6' -stroke '#17528C' -strokewidth 2 -draw "ellipse 82,112 62,66 0,360" \
  -fill '#7CC0F5' -stroke none -draw "ellipse 82,128 44,42 0,360" \
  -fill 'rgba(255,255,255,0.35)' -draw "ellipse 58,76 18,11 -30,330" \
  -fill '#FFFFFF' -stroke '#17528C' -strokewidth 2 \
  -draw "ellipse 62,104 13,15 0,360" -draw "ellipse 102,104 13,15 0,360" \
  -fill '#16324F' -stroke none -draw "ellipse 65,107 7,8 0,360" -draw "ellipse 99,107 7,8 0,360" \
  -fill '#FFFFFF' -draw "circle 67,104 69,104" -draw "circle 101,104 103,104" \
  -fill '#FF8F9A' -draw "ellipse 48,126 8,4 0,360" -draw "ellipse 116,126 8,4 0,360" \
  -fill none -stroke '#16324F' -strokewidth 2.4 -draw "arc 72,118 92,134 20,160" \
  -fill '#5DBB63' -stroke '#2E7D32' -strokewidth 1.5 \
  -draw "path 'M 82,48 C 80,34 70,26 56,26 C 58,40 68,48 82,48 Z'" \
  -draw "path 'M 84,48 C 88,30 102,22 116,24 C 112,40 100,48 84,48 Z'" \
  -stroke '#2E7D32' -strokewidth 3 -draw "line 83,48 83,56" \
  -fill '#2F86D6' -stroke '#17528C' -strokewidth 2 \
  -draw "ellipse 22,128 10,16 -25,335" -draw "ellipse 142,122 10,16 25,385" \
  -fill '#FFD36A' -stroke '#D08A12' -strokewidth 1.5 \
  -draw "polygon 150,88 153,96 161,96 155,101 157,109 150,104 143,109 145,101 139,96 147,96" \
  -fill '#2F86D6' -stroke '#17528C' -strokewidth 2 \
  -draw "ellipse 56,176 16,9 0,360" -draw "ellipse 108,176 16,9 0,360" \
  "$work/char.png"
savepng "$work/char.png" "$out/pics/character.png"

# "TXTLOVEQX" 115x19: a small caption (unused by the program, carried with the skin).
convert -size 115x19 xc:none -font "$font" -pointsize 14 -fill '#2273C2' -gravity center \
  -annotate +0+0 '与你同行的冒险' "$work/txt.png"
savepng "$work/txt.png" "$out/res/txtLove.png"

# ---- backgrounds 660x480 ----
# The sky band behind the caption area, shared by both backgrounds.
# Soft shapes are drawn as grey masks and then coloured with "-alpha shape": blurring a
# coloured transparent layer would darken its edges.
cloud() { # cloud <cx> <cy> <scale>: draw primitives of one soft cloud
  local cx=$1 cy=$2 s=$3
  printf 'ellipse %d,%d %d,%d 0,360 ' "$cx" "$cy" $((26 * s / 10)) $((9 * s / 10)) \
    $((cx - 16 * s / 10)) $((cy + 3)) $((18 * s / 10)) $((7 * s / 10)) \
    $((cx + 18 * s / 10)) $((cy + 2)) $((20 * s / 10)) $((7 * s / 10)) \
    $((cx + 2)) $((cy - 6 * s / 10)) $((14 * s / 10)) $((9 * s / 10))
}
ridge() { # ridge <base y> <amplitude> <phase> <step>: a hill line polygon across 660 px
  awk -v base="$1" -v amp="$2" -v ph="$3" -v step="$4" 'BEGIN {
    printf "polygon 0,480 ";
    for (x = 0; x <= 660; x += step) {
      y = base - amp * (0.55 * sin(x / 97.0 + ph) + 0.3 * sin(x / 41.0 + 2 * ph) + 0.15 * sin(x / 17.0 + ph * 3));
      printf "%d,%d ", x, y;
    }
    printf "660,480";
  }'
}
sky() { # sky <out>
  convert -size 660x480 xc:'#FFFFFF' \
    \( -size 660x150 gradient:'#BFE0FA-#F2F8FE' \) -geometry +0+0 -composite \
    \( -size 660x150 xc:black -fill gray85 \
       -draw "$(cloud 140 40 12) $(cloud 330 70 9) $(cloud 470 28 10) $(cloud 600 92 7)" \
       -blur 0x3 -background white -alpha shape \) -geometry +0+0 -composite \
    \( -size 660x150 xc:none -fill 'rgba(150,196,234,0.35)' -draw "$(ridge 132 22 0.7 6)" \
       -fill 'rgba(120,176,226,0.30)' -draw "$(ridge 142 14 2.1 6)" \) -geometry +0+0 -composite \
    \( -size 660x40 gradient:'rgba(242,248,254,1)-rgba(255,255,255,1)' \) -geometry +0+142 -composite \
    "$1"
}
footer() { # footer <in/out>: the light band under the pages' controls and the window's edge
  convert "$1" -fill '#F4F8FC' -draw "rectangle 0,397 659,479" \
    -fill '#DCE7F1' -draw "rectangle 0,396 659,396" \
    -fill none -stroke '#8DB1D2' -strokewidth 1 -draw "roundrectangle 0.5,0.5 659.5,479.5 9,9" "$1"
}

sky "$work/bg.png"
convert "$work/bg.png" \
  -fill 'rgba(47,134,214,0.05)' -draw "circle 560,300 560,150" -draw "circle 600,250 600,170" \
  "$work/bg.png"
footer "$work/bg.png"
convert "$work/bg.png" "${jpg_opts[@]}" "$out/res/bg.jpg"

# The finish background: a done badge and the closing words above the finish button.
sky "$work/bg2.png"
convert "$work/bg2.png" \
  -fill 'rgba(47,134,214,0.07)' -draw "circle 330,240 330,90" \
  -fill '#2F86D6' -stroke '#2273C2' -strokewidth 2 -draw "circle 330,212 330,172" \
  -fill none -stroke '#FFFFFF' -strokewidth 7 -draw "polyline 311,212 325,226 350,199" \
  -stroke none -font "$font" -fill '#005CB2' -pointsize 34 -gravity north -annotate +0+268 '安装完成' \
  -fill '#66788A' -pointsize 15 -annotate +0+318 '游戏已准备就绪，祝您冒险愉快！' \
  "$work/bg2.png"
footer "$work/bg2.png"
convert "$work/bg2.png" "${jpg_opts[@]}" "$out/res/bg2.jpg"

# ---- carousel pictures 660x480: pale sky at the top for the step names, dark at the
# bottom for the white progress texts ----
scene() { # scene <sky top> <sky bottom> <sun colour> <sun x,y> <far> <mid> <near> <caption> <out>
  convert -size 660x480 gradient:"$1-$2" \
    -fill "$3" -draw "circle $4 $(( ${4%,*} + 34 )),${4#*,}" \
    \( -size 660x480 xc:black -fill gray30 -draw "circle $4 $(( ${4%,*} + 60 )),${4#*,}" \
       -blur 0x22 -background "$3" -alpha shape \) -composite \
    \( -size 660x480 xc:black -fill gray75 \
       -draw "$(cloud 120 90 10) $(cloud 520 60 8) $(cloud 380 140 6)" -blur 0x3 \
       -background white -alpha shape \) -composite \
    -fill "$5" -draw "$(ridge 300 70 0.3 5)" \
    -fill "$6" -draw "$(ridge 350 55 1.9 5)" \
    -fill "$7" -draw "$(ridge 400 40 4.2 5)" \
    \( -size 660x170 gradient:'rgba(0,0,0,0)-rgba(6,14,26,0.78)' \) -geometry +0+310 -composite \
    -font "$font" -pointsize 26 -fill 'rgba(0,0,0,0.45)' -annotate +42+352 "$8" \
    -fill '#FFFFFF' -annotate +40+350 "$8" \
    "$work/scene.png"
  convert "$work/scene.png" -fill none -stroke 'rgba(20,50,80,0.6)' -strokewidth 1 \
    -draw "roundrectangle 0.5,0.5 659.5,479.5 9,9" "${jpg_opts[@]}" "$9"
}
scene '#DDEEFD' '#6FB2EA' '#FFF4C8' '300,190' '#8DB9DF' '#4E8DBF' '#2D5F86' \
  '穿越云海，探索无尽的天空之境' "$out/pics/carousel0.jpg"
scene '#FFEBDD' '#F29A6A' '#FFE7A8' '460,230' '#C98A9A' '#8C5D86' '#4B3562' \
  '黄昏的群山之间，传说正在等你' "$out/pics/carousel1.jpg"

# ---- program icon "ICON.ICO": the logo's shield and star, 256 (PNG), 48, 32, 24, 16 ----
shield="path 'M 128,10 L 236,46 L 236,130 C 236,184 188,220 128,244 C 68,220 20,184 20,130 L 20,46 Z'"
convert -size 256x256 gradient:'#5AAAF0-#1F68B0' \
  \( -size 256x256 xc:black -fill white -draw "$shield" \) \
  -alpha off -compose CopyOpacity -composite -compose Over \
  -fill none -stroke '#0E4C8C' -strokewidth 10 -draw "$shield" \
  -fill '#FFB13B' -stroke '#C9570A' -strokewidth 5 \
  -draw "polygon 128,58 146,106 194,106 158,136 170,184 128,154 86,184 98,136 62,106 110,106" \
  "$work/icon.png"
convert "$work/icon.png" -depth 8 "${png_opts[@]}" -define icon:auto-resize=256,48,32,24,16 \
  "$out/ICON.ICO"

ls -l "$out/res" "$out/pics" "$out/ICON.ICO"
