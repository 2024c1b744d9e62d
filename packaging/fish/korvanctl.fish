# fish completion for korvanctl. Kept by hand beside the bash and zsh ones; a
# test checks that the three, the manual page and `korvanctl --help` name the
# same options.

set -l commands status start stop restart pair doctor help
complete -c korvanctl -f

complete -c korvanctl -n "not __fish_seen_subcommand_from $commands" -a status -d "print the services' state"
complete -c korvanctl -n "not __fish_seen_subcommand_from $commands" -a start -d 'start the services'
complete -c korvanctl -n "not __fish_seen_subcommand_from $commands" -a stop -d 'stop the services'
complete -c korvanctl -n "not __fish_seen_subcommand_from $commands" -a restart -d 'restart the services'
complete -c korvanctl -n "not __fish_seen_subcommand_from $commands" -a pair -d 'pair this machine with a hub'
complete -c korvanctl -n "not __fish_seen_subcommand_from $commands" -a doctor -d 'check what the controller depends on'
complete -c korvanctl -n "not __fish_seen_subcommand_from $commands" -a help -d 'show the help of a command'
complete -c korvanctl -n "not __fish_seen_subcommand_from $commands" -s h -l help -d 'show the help'
complete -c korvanctl -n "not __fish_seen_subcommand_from $commands" -l version -d 'show the version'

complete -c korvanctl -n "__fish_seen_subcommand_from $commands; and not __fish_seen_subcommand_from help" -l help -d 'show the help of this command'
complete -c korvanctl -n "__fish_seen_subcommand_from help; and test (count (commandline -opc)) -eq 2" -a "$commands"

complete -c korvanctl -n '__fish_seen_subcommand_from status' -l json -d 'print one JSON object'
complete -c korvanctl -n '__fish_seen_subcommand_from status' -l openmetrics -d 'print gauges in the OpenMetrics text format'
complete -c korvanctl -n '__fish_seen_subcommand_from status' -l output -r -F -d 'replace FILE atomically (- for standard output)'

complete -c korvanctl -n '__fish_seen_subcommand_from pair' -l hub -x -d 'address of the hub'
complete -c korvanctl -n '__fish_seen_subcommand_from pair' -l code -x -d 'one-time pair code (- reads standard input)'
complete -c korvanctl -n '__fish_seen_subcommand_from pair' -l link -x -d 'korvan:// pairing link (- reads standard input)'
complete -c korvanctl -n '__fish_seen_subcommand_from pair' -l verbose -d "pass the installer's output on"
