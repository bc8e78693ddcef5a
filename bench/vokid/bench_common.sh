# Shell helpers of vokid's benchmark scripts, sourced by them.

# Runs the commands of standard input, one a line, two at a time.
two_at_a_time() { xargs -d '\n' -P 2 -I{} bash -c '{}'; }

# Words of made-up English, the same for the same seed.
text_of() { # SEED WORDS
  awk -v seed="$1" -v n="$2" 'BEGIN {
    split("the a of to and in that is was he for it with as his on be at by this had not are but from or have an they which one you were her all she there would their we him been has when who will more no if out so said what up its about into than them can only other new some could time these two may then do first any my now such like our over man me even most made after also did many before must through back years where much your way well down should because each just those people how too little state good very make world still own see men work long get here between both life being under never day same another know while last might us great old year off come since against go came right used take three", vocab, " ")
    state = seed * 7919 + 13
    for (i = 1; i <= n; i++) {
      state = (state * 1103515245 + 12345) % 2147483648
      printf "%s%s", vocab[int(state / 65536) % length(vocab) + 1], (i % 12 == 0 ? ". " : " ")
    }
    print "."
  }'
}
