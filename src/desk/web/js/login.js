// Signing in: the person types a token once; it is kept for this tab only (sessionStorage)
// and sent as "Authorization: Bearer" with every call, never put in an address.
import {h, errorBox} from './dom.js';
import {request, setToken, go, ApiError} from './app.js';

export async function render(args, params, reason) {
  const input = h('input', {id: 'token', name: 'token', type: 'password', required: true,
    autocomplete: 'off', spellcheck: 'false', className: 'sha'});
  const problem = h('div', {'aria-live': 'polite'}, reason ? errorBox(reason) : null);
  const form = h('form', {className: 'pair', onsubmit: async (event) => {
    event.preventDefault();
    const value = input.value.trim();
    try {
      // A viewer's or an admin's token can search; an upload token is told why it cannot.
      await request('packages?page=1', value);
      setToken(value);
      go(params.get('next') || '#/');
    } catch (e) {
      const message = e instanceof ApiError && e.status === 403 ?
        'This token may only send packages. Reading the desk needs a viewer or admin token.' :
        e.message;
      problem.replaceChildren(errorBox(message));
      input.focus();
    }
  }},
  h('div', {className: 'field wide'}, h('label', {for: 'token'}, 'Access token'), input),
  h('button', {type: 'submit'}, 'Sign in'));
  return [
    h('h1', {}, 'Sign in'),
    h('p', {}, 'Type the access token your desk administrator gave you ',
      '(made with "trawler-desk token add"). It is kept only while this tab is open.'),
    form,
    problem,
  ];
}
