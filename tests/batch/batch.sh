#!/usr/bin/env bash
# zeverive-batch on two files over two "hosts" of this machine: GNU parallel
# reaches them through a stand-in for ssh that runs the command here, in a
# home directory of the host's own, so the pieces really travel by rsync.
#
#   batch.sh ZEVERIVE_BATCH ZEVERIVE WORK_DIR
#
# A first run is interrupted; a piece is then damaged, so the second run
# finishes the other file and fails this one, naming the piece; the third,
# with the piece mended, finishes it. Each result must decode to the bytes
# of one zeverive --sigma run over the whole decoded file, with the audio,
# subtitles and colour tags of the input and its frames evenly timed.
set -euo pipefail

batch=$1
zeverive=$2
work=$3
rm -rf "$work"
mkdir -p "$work/bin" "$work/homes/hostA" "$work/homes/hostB" "$work/out"
cd "$work"
export HOME=$work/homes/local
# As under cron or a service manager, where no login shell is named.
unset SHELL

fail() {
  echo "FAILED: $*" >&2
  exit 1
}

# zeverive as every host finds it: it notes each piece it denoises, and
# takes a second per piece while the file "slow" exists.
cat >bin/zeverive <<EOF
#!/bin/bash
if [[ " \$* " == *" --sigma "* ]]; then
  echo "\$*" >>"$work/pieces.log"
  [ ! -e "$work/slow" ] || sleep 1
fi
exec "$zeverive" "\$@"
EOF
cat >bin/ssh <<EOF
#!/bin/bash
# ssh [options] HOST [--] COMMAND...: COMMAND in HOST's home, here.
while [ \$# -gt 0 ]; do case \$1 in -[lopSF]) shift 2 ;; -*) shift ;; *) break ;; esac; done
host=\$1
shift
[ "\${1:-}" != -- ] || shift
echo "\$host" >>"$work/hosts.log"
cd "$work/homes/\$host" && exec bash -c "\$*"
EOF
chmod +x bin/zeverive bin/ssh
export PATH=$work/bin:$PATH PARALLEL_SSH=$work/bin/ssh

# One: H.264 with B-frames, AAC and MP4 text subtitles, BT.709 tags.
# Two: a cut from one picture to another inside a piece, Opus, BT.601 tags.
printf '1\n00:00:00,500 --> 00:00:01,500\nhello\n\n2\n00:00:02,000 --> 00:00:02,800\nworld\n' >subs.srt
ffmpeg -v error -f lavfi -i "testsrc2=size=320x240:rate=25:duration=3,noise=alls=12:allf=t" \
  -f lavfi -i "sine=frequency=440:duration=3" -i subs.srt -map 0 -map 1 -map 2 \
  -c:v libx264 -crf 8 -g 12 -bf 2 -pix_fmt yuv420p -color_primaries bt709 -color_trc bt709 -colorspace bt709 \
  -c:a aac -c:s mov_text one.mp4
ffmpeg -v error -f lavfi -i "mandelbrot=size=256x192:rate=25,trim=duration=1.6,noise=alls=10:allf=t[a];
    life=size=256x192:rate=25:mold=10,trim=duration=1.4,format=yuv420p,noise=alls=10:allf=t[b];[a][b]concat=n=2" \
  -f lavfi -i "sine=frequency=220:duration=3" -c:v libx264 -crf 8 -g 10 -pix_fmt yuv420p -color_range tv \
  -colorspace bt470bg -c:a libopus two.mkv

hosts=1/hostA,1/hostB
pieces_run() { wc -l 2>/dev/null <pieces.log || echo 0; }

# 1. Interrupted, as a terminal's Ctrl-C does, once a piece is done.
touch slow
setsid "$batch" --hosts "$hosts" --piece 1 one.mp4 two.mkv out 2>run1.log &
leader=$!
for _ in $(seq 600); do
  compgen -G "out/.*.zeverive-batch/out-*.mkv" >/dev/null && break
  sleep 0.1
done
kill -INT -- "-$leader" 2>/dev/null || { cat run1.log >&2; fail "the first run ended before it was interrupted"; }
wait "$leader" && fail "the interrupted run exited 0"
rm slow
done_pieces=(out/.*.zeverive-batch/out-*.mkv)
[ "${#done_pieces[@]}" -ge 1 ] || fail "the interrupted run kept no finished piece"
[ ! -e out/one.mkv ] && [ ! -e out/two.mkv ] || fail "the interrupted run wrote a result"
echo "interrupted with ${#done_pieces[@]} of 6 pieces done"

# 2. One piece not yet done is damaged: its file fails with the piece
# named, the other file is finished.
damaged=
for input in out/.*.zeverive-batch/in-*.mkv; do
  [ -e "${input%/in-*}/out-${input##*/in-}" ] && continue
  damaged=$input
  break
done
[ -n "$damaged" ] || fail "the interruption came after every piece was done"
cp "$damaged" damaged.keep
head -c 3000 /dev/urandom >"$damaged"
if [[ $damaged == *one* ]]; then bad=one.mp4 good=two; else bad=two.mkv good=one; fi
number=$((10#$(basename "$damaged" .mkv | sed 's/in-//') + 1))
before=$(pieces_run)
status=0
"$batch" --hosts "$hosts" --piece 1 one.mp4 two.mkv out 2>run2.log || status=$?
cat run2.log
[ "$status" -eq 1 ] || fail "a failed piece gave exit status $status"
grep -q "$bad, piece $number failed on host[AB]" run2.log || fail "the failed piece is not named with its host"
grep -Eq "$bad: failed: piece $number of [0-9]+ not denoised" run2.log || fail "the failed file is not named"
[ -e "out/$good.mkv" ] || fail "the other file was not finished"
[ ! -e "out/${bad%.*}.mkv" ] || fail "the failed file has a result"
echo "second run denoised $(($(pieces_run) - before)) pieces"

# 3. Mended, the same command finishes the failed file, denoising only the
# piece that failed, and leaves the finished one alone.
cp damaged.keep "$damaged"
before=$(pieces_run)
"$batch" --hosts "$hosts" --piece 1 one.mp4 two.mkv out 2>run3.log || { cat run3.log; fail "the third run failed"; }
cat run3.log
[ "$(($(pieces_run) - before))" -eq 1 ] || fail "the third run denoised $(($(pieces_run) - before)) pieces, not 1"
grep -q "out/$good.mkv is there already; skipped" run3.log || fail "the finished file was not skipped"
compgen -G "out/.*" >/dev/null && fail "work directories are left: $(ls -A out)"
grep -q hostA hosts.log && grep -q hostB hosts.log || fail "the pieces did not run on both hosts"

decoded() { ffmpeg -v error -i "$1" -map 0:v -fps_mode passthrough -f rawvideo - | md5sum; }
packets() { ffmpeg -v error -i "$1" -map "$2" -c copy -f md5 -; }
probe() { ffprobe -v error -select_streams "$2" -show_entries "$3" -of csv=p=0 "$1"; }
for name in one two; do
  input=$(ls $name.*)
  sigma=$(sed -n "s/^zeverive-batch: $input: noise \([0-9.]*\) codes.*/\1/p" run1.log)
  [ -n "$sigma" ] || fail "$input: no noise figure reported"
  ffmpeg -v error -i "$input" -map 0:V:0 -fps_mode passthrough -strict -1 -f yuv4mpegpipe - |
    "$zeverive" --quiet --tile --sigma "$sigma" --white - whole-$name.y4m
  [ "$(decoded out/$name.mkv)" = "$(decoded whole-$name.y4m)" ] || fail "$name: not the bytes of one whole run"
  [ "$(packets out/$name.mkv 0:a)" = "$(packets "$input" 0:a)" ] || fail "$name: the audio changed"
  tags=stream=color_primaries,color_transfer,color_space,color_range
  [ "$(probe out/$name.mkv v $tags)" = "$(probe "$input" v $tags)" ] || fail "$name: colour tags lost"
  # Frames evenly timed across the joins, starting where a plain copy of
  # the input's video and audio into Matroska starts them.
  ffmpeg -v error -i "$input" -map 0:v -map 0:a -c copy copy-$name.mkv
  probe out/$name.mkv v packet=pts_time | sort -n >times
  awk -v first="$(probe copy-$name.mkv v packet=pts_time | sort -n | head -n 1)" -v n=75 '
    { t[NR - 1] = $1 }
    END {
      if (NR != n) { print NR " frames, not " n; exit 1 }
      if (t[0] != first) { print "starts at " t[0] ", a copy at " first; exit 1 }
      for (i = 0; i < NR; i++) if (t[i] - (first + i * 0.04) > 0.0015 || (first + i * 0.04) - t[i] > 0.0015) {
        print "frame " i " at " t[i]; exit 1 }
    }' times || fail "$name: frames not evenly timed"
  echo "$name: same bytes as zeverive --sigma $sigma --white over the whole file; audio, colour tags and timing kept"
done
[ "$(probe out/one.mkv s stream=codec_name)" = subrip ] || fail "one: the subtitles were lost"
ffmpeg -v error -i out/one.mkv -map 0:s -f srt - | grep -q world || fail "one: the subtitles' text was lost"
echo "zeverive-batch: all checks passed"
