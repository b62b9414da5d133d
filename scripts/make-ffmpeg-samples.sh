#!/usr/bin/env bash
# Writes small sample streams made by the ffmpeg command-line tool into OUTDIR, for the
# demultiplexer's real-data tests. Nothing here is committed; the tests run it at test time.
#   es.m4v       MPEG-4 Visual elementary stream (176x144, 25 fps, key frame every 25)
#   es-bf.m4v    the same with two B-frames between references (advanced simple profile)
#   av.avi       AVI: MPEG-4 Visual video + PCM 16-bit mono 8000 Hz audio
#   ps-mpeg4.mpg MPEG-2 program stream (VOB muxer) with MPEG-4 Visual video + MP2 audio
#   ps-h264.mpg  MPEG-2 program stream (VOB muxer) with H.264 video (only with libx264)
#   av.asf       ASF with MPEG-4 Visual video + WMA audio
# Exit status 0 when at least the first file was written.
set -u
OUT=${1:?usage: make-ffmpeg-samples.sh OUTDIR}
FFMPEG=${FFMPEG:-ffmpeg}
SECONDS_LEN=${SAMPLE_SECONDS:-3}
mkdir -p "$OUT"
command -v "$FFMPEG" >/dev/null 2>&1 || { echo "ffmpeg not found" >&2; exit 2; }

ff() { "$FFMPEG" -hide_banner -loglevel error -nostdin -y "$@"; }
SRC=(-f lavfi -i "testsrc=size=176x144:rate=25:duration=${SECONDS_LEN}")
TONE=(-f lavfi -i "sine=frequency=440:sample_rate=8000:duration=${SECONDS_LEN}")
MPEG4=(-c:v mpeg4 -g 25 -bf 0 -q:v 5)

ff "${SRC[@]}" "${MPEG4[@]}" -f m4v "$OUT/es.m4v" || exit 1
ff "${SRC[@]}" -c:v mpeg4 -g 25 -bf 2 -q:v 5 -f m4v "$OUT/es-bf.m4v" \
  || echo "mpeg-4 b-frame sample not made" >&2
ff "${SRC[@]}" "${TONE[@]}" "${MPEG4[@]}" -c:a pcm_s16le -ac 1 -f avi "$OUT/av.avi" \
  || echo "avi sample not made" >&2
ff "${SRC[@]}" "${TONE[@]}" "${MPEG4[@]}" -c:a mp2 -ar 32000 -ac 1 -f vob "$OUT/ps-mpeg4.mpg" \
  || echo "mpeg-4 program stream sample not made" >&2
if "$FFMPEG" -hide_banner -encoders 2>/dev/null | grep -q libx264; then
  ff "${SRC[@]}" -c:v libx264 -profile:v baseline -g 25 -bf 0 -pix_fmt yuv420p -f vob "$OUT/ps-h264.mpg" \
    || echo "h264 program stream sample not made" >&2
fi
ff "${SRC[@]}" "${TONE[@]}" "${MPEG4[@]}" -c:a wmav2 -ac 1 -f asf -packet_size 2048 "$OUT/av.asf" \
  || echo "asf sample not made" >&2
exit 0
