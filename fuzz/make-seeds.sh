#!/usr/bin/env bash
# Makes the fuzz targets' seed corpora: make-seeds.sh FIXTURE_TOOL SOURCE_DIR SEED_ROOT
#   SEED_ROOT/media     the test clips and truncated copies (OpenAndCopy, Probe and Player fuzzers)
#   SEED_ROOT/settings  tarnelmain.ini + NUL + the shipped tarnelformat.ini, one per profile
#   SEED_ROOT/cli       command-line words, one per line
set -euo pipefail
tool=$1
source_dir=$2
root=$3

rm -rf "$root"
mkdir -p "$root/media" "$root/settings" "$root/cli" "$root/clips"
"$tool" "$root/clips" > /dev/null
for clip in "$root"/clips/*; do
  name=$(basename "$clip")
  cp "$clip" "$root/media/$name"
  for bytes in 4096 32768; do
    head -c "$bytes" "$clip" > "$root/media/$bytes-$name"
  done
done
rm -rf "$root/clips"

profiles=$source_dir/data/tarnelformat.ini
zooms=(lbox full pan center)
i=0
for code in $(sed -n 's/^\[formatInfo\([0-9]*\)\]/\1/p' "$profiles"); do
  {
    printf '[settings]\nFormatName=Profile %s\nFormatCode=%s\nOutPutDir=/tmp/out\nvolume=%s\n' \
      "$code" "$code" $((i * 7 % 200))
    printf 'mute=%s\njobs=%s\npriority=%s\njpgCmp=75\n' $((i % 2)) $((i % 4)) $((i % 5))
    printf '[lstformat]\n0=1\n1=0\n[formatInfo%s]\nparazoom=%s\n' "$code" "${zooms[i % 4]}"
    if ((i % 3 == 0)); then
      printf 'paraVideoSize=640x480\nparaVideoBitRate=as source\nparaFrameRate=25\n'
      printf 'paraSampleRate=48000\nparaAudioBitRate=128\nparaChannel=2\nparaVolume=256\n'
    fi
    printf '\0'
    cat "$profiles"
  } > "$root/settings/profile-$code"
  i=$((i + 1))
done

write_words() { printf '%s\n' "${@:2}" > "$root/cli/$1"; }
write_words run-copy -i in.mp4 -vcodec copy -acodec copy out.mkv
write_words run-encode -i in.mp4 -vcodec libx264 -b 800k -s 640x480 -r 25 -aspect 16:9 -ar 44100 \
  -ac 2 -ab 128k -t 10 -ss 1.5 out.mp4
write_words run-flags -vn -an -sn -copyts -isync -f matroska -threads 2 -g 12 -qscale 3 -croptop 10 \
  -padleft 8 -vf scale=320:240 -metadata title=x -map 0:0 -newaudio out.mkv
write_words adjust 255:0:255:0 128:50:300:-20 0:-100:0:100
write_words crop 10:10:20:20 0:0:0:0 3:5:7:9
write_words layers 'text=Tarnel,x=16,y=16,font=Sans,size=26,color=#ffffff,back=#000000,alpha=255,from=0,to=5' \
  'text=Two,bold=1,italic=1,underline=1,strike=1,width=100,height=30' 'image=/nonexistent.png,x=600,y=20,alpha=128'
